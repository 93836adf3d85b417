#include "jpeg/JpegTurboSupport.h"

#include <cstdlib>
#include <cstring>

#include <jerror.h>

namespace {

JpegTurboErrorManager& ManagerOf(j_common_ptr object)
{
    // pub is the first member, so the library's pointer is the manager's.
    return *reinterpret_cast<JpegTurboErrorManager*>(object->err);
}

[[noreturn]] void ExitWithMessage(j_common_ptr object)
{
    JpegTurboErrorManager& errors = ManagerOf(object);
    (*object->err->format_message)(object, errors.message);
    std::longjmp(errors.jump, 1);
}

// Warnings that leave the decoded data whole: an unknown JFIF revision or
// Adobe transform code, stray bytes between segments, a damaged ICC chunk
// (the profile is kept as bytes, never interpreted). Every other warning says
// that coefficients were lost or guessed, so the file is refused.
bool IsHarmlessWarning(int code)
{
    return code == JWRN_JFIF_MAJOR || code == JWRN_ADOBE_XFORM || code == JWRN_EXTRANEOUS_DATA
        || code == JWRN_BOGUS_ICC;
}

void EmitMessage(j_common_ptr object, int level)
{
    if (level < 0 && !IsHarmlessWarning(object->err->msg_code))
        ExitWithMessage(object);
    // Trace messages and harmless warnings are not shown.
}

void InitDestination(j_compress_ptr compressor)
{
    auto* destination = reinterpret_cast<JpegTurboMemoryDestination*>(compressor->dest);
    if (destination->data == nullptr) {
        destination->data = static_cast<std::uint8_t*>(std::malloc(destination->initialCapacity));
        if (destination->data == nullptr)
            FailTurboCall(reinterpret_cast<j_common_ptr>(compressor), "Out of memory");
        destination->capacity = destination->initialCapacity;
    }
    destination->size = 0;
    destination->pub.next_output_byte = destination->data;
    destination->pub.free_in_buffer = destination->capacity;
}

boolean EmptyOutputBuffer(j_compress_ptr compressor)
{
    // The whole buffer is full (libjpeg calls this only then); double it.
    auto* destination = reinterpret_cast<JpegTurboMemoryDestination*>(compressor->dest);
    const std::size_t used = destination->capacity;
    const std::size_t grown = used * 2;
    auto* data = static_cast<std::uint8_t*>(std::realloc(destination->data, grown));
    if (data == nullptr)
        FailTurboCall(reinterpret_cast<j_common_ptr>(compressor), "Out of memory");
    destination->data = data;
    destination->capacity = grown;
    destination->pub.next_output_byte = data + used;
    destination->pub.free_in_buffer = grown - used;
    return TRUE;
}

void TermDestination(j_compress_ptr compressor)
{
    auto* destination = reinterpret_cast<JpegTurboMemoryDestination*>(compressor->dest);
    destination->size = destination->capacity - destination->pub.free_in_buffer;
}

} // namespace

jpeg_error_mgr* InstallTurboErrorManager(JpegTurboErrorManager& errors)
{
    jpeg_error_mgr* pub = jpeg_std_error(&errors.pub);
    pub->error_exit = ExitWithMessage;
    pub->emit_message = EmitMessage;
    errors.message[0] = '\0';
    return pub;
}

void FailTurboCall(j_common_ptr object, const char* text)
{
    JpegTurboErrorManager& errors = ManagerOf(object);
    std::strncpy(errors.message, text, sizeof errors.message - 1);
    errors.message[sizeof errors.message - 1] = '\0';
    std::longjmp(errors.jump, 1);
}

JpegTurboMemoryDestination::~JpegTurboMemoryDestination() { std::free(data); }

void InstallTurboMemoryDestination(j_compress_ptr compressor, JpegTurboMemoryDestination& destination)
{
    destination.pub.init_destination = InitDestination;
    destination.pub.empty_output_buffer = EmptyOutputBuffer;
    destination.pub.term_destination = TermDestination;
    compressor->dest = &destination.pub;
}
