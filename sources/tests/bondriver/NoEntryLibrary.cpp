// A shared library that is no tuner driver: it exports no CreateBonDriver.
extern "C" __attribute__((visibility("default"))) int NotATunerDriver() {
    return 1;
}
