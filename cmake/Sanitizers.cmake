# ORV_SANITIZE=address builds everything with AddressSanitizer and UndefinedBehaviorSanitizer;
# ORV_SANITIZE=thread with ThreadSanitizer. Undefined behaviour aborts the test that hit it.
if(ORV_SANITIZE STREQUAL "address")
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined
                        -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
elseif(ORV_SANITIZE STREQUAL "thread")
    add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
    add_link_options(-fsanitize=thread)
elseif(NOT ORV_SANITIZE STREQUAL "")
    message(FATAL_ERROR "ORV_SANITIZE must be empty, 'address' or 'thread'")
endif()
