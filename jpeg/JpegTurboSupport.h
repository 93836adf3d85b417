#pragma once

#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include <jpeglib.h>

// What the libjpeg-turbo users in this folder share: an error manager that
// turns every fatal error (and every warning that means damaged data) into a
// jump back to the caller with libjpeg's message, and a destination manager
// that collects the compressed file in memory.
//
// libjpeg reports errors by calling error_exit, which must not return. Ours
// jumps back to the setjmp of the guarded step. The jump skips only libjpeg's
// C frames and the step's own body, so the code between setjmp and the
// library calls keeps no objects with destructors, and nothing throws through
// the library: C++ allocations happen before or after the guarded steps.

struct JpegTurboErrorManager {
    jpeg_error_mgr pub {};
    std::jmp_buf jump {};
    char message[JMSG_LENGTH_MAX] = {};
};

// Installs `errors` as the error manager of `object`'s future create call
// (jpeg_create_compress or jpeg_create_decompress); returns pub for cinfo.err.
jpeg_error_mgr* InstallTurboErrorManager(JpegTurboErrorManager& errors);

// Stops the current libjpeg call with `text` as the reason, as if libjpeg
// itself had failed (for checks made in our callbacks).
[[noreturn]] void FailTurboCall(j_common_ptr object, const char* text);

// Runs `step` (a callable that only makes libjpeg calls) under the error
// manager: true when it finished, false when libjpeg failed, with the reason
// in errors.message.
template <typename Step> bool RunTurboStep(JpegTurboErrorManager& errors, Step&& step)
{
    if (setjmp(errors.jump) != 0)
        return false;
    step();
    return true;
}

// A destination in a growing malloc'd buffer; the owner frees it.
struct JpegTurboMemoryDestination {
    jpeg_destination_mgr pub {};
    std::uint8_t* data = nullptr;
    std::size_t capacity = 0;
    std::size_t size = 0; // bytes written, set when the compressor finishes
    std::size_t initialCapacity = 1 << 16;

    JpegTurboMemoryDestination() = default;
    JpegTurboMemoryDestination(const JpegTurboMemoryDestination&) = delete;
    JpegTurboMemoryDestination& operator=(const JpegTurboMemoryDestination&) = delete;
    ~JpegTurboMemoryDestination();
};

void InstallTurboMemoryDestination(j_compress_ptr compressor, JpegTurboMemoryDestination& destination);
