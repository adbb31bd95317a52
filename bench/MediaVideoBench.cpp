// The video pipeline under load, as a timed program: a 1080i MPEG-2 clip (given, or 60 seconds
// of 1440 x 1080 at about 15 Mbit/s made with ffmpeg) decoded, deinterlaced, converted to the
// display size and presented as fast as it goes, with the CPU time of each stage; then the same
// clip through `ffmpeg -i FILE -vf bwdif -f null -` for comparison (user + system time of the
// child).
//
//   media_video_bench [FILE.ts]
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "platform/media/video/VideoColourConverter.h"
#include "platform/media/video/VideoElementaryStream.h"
#include "platform/media/video/VideoFramePool.h"
#include "platform/media/video/VideoMixerBitmap.h"
#include "platform/media/video/VideoStreamDecoder.h"

extern char** environ;

namespace {

constexpr size_t kPacketSize = 188;

int64_t ThreadCpuNs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return int64_t(now.tv_sec) * 1000000000 + now.tv_nsec;
}

double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Runs a command without a shell and returns the child's user + system seconds (-1 on failure).
double ChildCpuSeconds(const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    pid_t child = 0;
    if (posix_spawnp(&child, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        return -1;
    }
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        return -1;
    }
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

bool MakeClip(const std::string& path) {
    std::printf("making a 60 s 1080i MPEG-2 clip with ffmpeg...\n");
    std::fflush(stdout);
    return ChildCpuSeconds(
               {"ffmpeg",   "-loglevel",   "error",    "-y",
                "-f",       "lavfi",       "-i",       "testsrc2=size=1440x1080:rate=60000/1001",
                "-t",       "60",          "-vf",      "tinterlace=interleave_top,setfield=tff",
                "-c:v",     "mpeg2video",  "-b:v",     "15M",
                "-maxrate", "15M",         "-bufsize", "9M",
                "-g",       "15",          "-bf",      "2",
                "-flags",   "+ilme+ildct", "-top",     "1",
                "-aspect",  "16:9",        "-f",       "mpegts",
                path}) >= 0;
}

// The PES packets of the first PID that carries a video PES, in order.
std::vector<std::vector<uint8_t>> VideoPes(const std::vector<uint8_t>& stream) {
    std::vector<std::vector<uint8_t>> packets;
    int videoPid = -1;
    for (size_t offset = 0; offset + kPacketSize <= stream.size(); offset += kPacketSize) {
        const uint8_t* p = stream.data() + offset;
        if (p[0] != 0x47 || (p[3] & 0x10) == 0) {
            continue;
        }
        const int pid = (p[1] & 0x1F) << 8 | p[2];
        size_t start = 4;
        if ((p[3] & 0x20) != 0) {
            start = 5 + size_t(p[4]);
        }
        if (start >= kPacketSize) {
            continue;
        }
        const bool unitStart = (p[1] & 0x40) != 0;
        if (videoPid < 0 && unitStart && p[start] == 0 && p[start + 1] == 0 && p[start + 2] == 1 &&
            (p[start + 3] & 0xF0) == 0xE0) {
            videoPid = pid;
        }
        if (pid != videoPid) {
            continue;
        }
        if (unitStart) {
            packets.emplace_back();
        }
        if (!packets.empty()) {
            packets.back().insert(packets.back().end(), p + start, p + kPacketSize);
        }
    }
    return packets;
}

// A surface that lets the frame go at once, as a window that has painted it would.
void Present(std::shared_ptr<const VideoFrame>&& frame) {
    frame.reset();
}

struct Figures {
    int pictures = 0;
    double decode = 0;
    double deinterlace = 0;
    double convert = 0;
    double present = 0;
    double total = 0;  // the process, all threads
};

Figures RunPipeline(const std::vector<std::vector<uint8_t>>& packets, int threads) {
    Figures figures;
    VideoStreamDecoder decoder({.threads = threads, .measureTimes = true});
    VideoColourConverter converter;
    VideoMixerBitmap captions;  // set but empty, as between captions
    VideoFramePool pool(4);
    int64_t convertNs = 0;
    int64_t presentNs = 0;
    auto sink = [&](const DecodedPicture& picture) {
        const LONG width = picture.format.DisplayWidth();
        const LONG height = picture.format.height;
        std::shared_ptr<VideoFrame> frame = pool.Take(width, height);
        int64_t begin = ThreadCpuNs();
        converter.Convert(picture.format, picture.planes, picture.strides, RECT{}, width, height,
                          frame->pixels.data(), frame->stride);
        const int64_t converted = ThreadCpuNs();
        convertNs += converted - begin;
        captions.Composite(*frame);
        frame->sampleTime = picture.start;
        Present(std::shared_ptr<const VideoFrame>(frame));
        presentNs += ThreadCpuNs() - converted;
        ++figures.pictures;
    };
    const double before = ProcessCpuSeconds();
    for (const std::vector<uint8_t>& pes : packets) {
        const VideoPayload payload = FindVideoPayload(pes.data(), pes.size());
        const int64_t start = payload.pts90k * 1000 / 9;
        decoder.Decode(pes.data(), pes.size(), payload.hasPts ? &start : nullptr, sink);
    }
    decoder.Drain(sink);
    figures.total = ProcessCpuSeconds() - before;
    const VideoDecodeTimes times = decoder.Times();
    figures.decode = double(times.decodeNs) / 1e9;
    figures.deinterlace = double(times.deinterlaceNs) / 1e9;
    figures.convert = double(convertNs) / 1e9;
    figures.present = double(presentNs) / 1e9;
    return figures;
}

}  // namespace

int main(int argc, char** argv) {
    std::string clip;
    std::filesystem::path made;
    if (argc > 1) {
        clip = argv[1];
    } else {
        made = std::filesystem::temp_directory_path() /
               ("orv-video-bench-" + std::to_string(getpid()) + ".ts");
        clip = made.string();
        if (!MakeClip(clip)) {
            std::fprintf(stderr, "media_video_bench: ffmpeg could not make the clip\n");
            return 0;
        }
    }
    std::ifstream in(clip, std::ios::binary);
    const std::vector<uint8_t> stream((std::istreambuf_iterator<char>(in)), {});
    const std::vector<std::vector<uint8_t>> packets = VideoPes(stream);
    std::printf("clip: %s, %.1f MB, %zu video PES\n", clip.c_str(), double(stream.size()) / 1e6,
                packets.size());

    const Figures single = RunPipeline(packets, 1);
    std::printf("ours, one decoding thread: %d pictures\n", single.pictures);
    std::printf("  decode       %7.2f s CPU\n", single.decode);
    std::printf("  deinterlace  %7.2f s CPU\n", single.deinterlace);
    std::printf("  convert      %7.2f s CPU (to %s BGRA)\n", single.convert,
                single.pictures > 0 ? "display-size" : "-");
    std::printf("  present      %7.2f s CPU (caption mix and hand-over)\n", single.present);
    std::printf("  process      %7.2f s CPU\n", single.total);
    const Figures threaded = RunPipeline(packets, 4);
    std::printf("ours, four decoding threads: %d pictures, process %.2f s CPU\n", threaded.pictures,
                threaded.total);

    const double ffmpeg = ChildCpuSeconds(
        {"ffmpeg", "-loglevel", "error", "-i", clip, "-vf", "bwdif", "-f", "null", "-"});
    if (ffmpeg > 0) {
        std::printf("ffmpeg -vf bwdif -f null: %.2f s CPU\n", ffmpeg);
        std::printf("ratio ours / ffmpeg: %.2f (one thread), %.2f (four threads)\n",
                    single.total / ffmpeg, threaded.total / ffmpeg);
        std::printf("ratio ours without conversion and present / ffmpeg: %.2f\n",
                    (single.decode + single.deinterlace) / ffmpeg);
    } else {
        std::printf("ffmpeg: not run\n");
    }
    if (!made.empty()) {
        std::error_code ignored;
        std::filesystem::remove(made, ignored);
    }
    return 0;
}
