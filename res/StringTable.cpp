#include "res/StringTable.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <iterator>

namespace {

struct StringEntry {
    unsigned id;
    const char* text;
};

// Sorted by number. Log texts end with a line break where the log window
// should start a new line after them; 120 deliberately has none.
constexpr StringEntry kStrings[] = {
    { 101, "&About Veilmark..." },
    { 102, "This picture contains secret message.\r\nYou have to enter correct password to see that message." },
    { 103, "Please enter a password.\r\nThe message will be encrypted with the password you now enter." },
    { 104, "Finding 'Start Of Image'.\r\n" },
    { 105, "Finding 'Restart Interval'.\r\n" },
    { 106, "Finding 'Start Of Scan'.\r\n" },
    { 107, "Finding 'Huffman Table'.\r\n" },
    { 108, "Finding 'Quantization Table'.\r\n" },
    { 109, "Finding 'Start Of Frame'.\r\n" },
    { 111, "Start Reading Secret Data.\r\n" },
    { 112, "Converting YUV color to RGB.\r\n" },
    { 113, "END Reading Secret Data.\r\n" },
    { 114, "Initialize Huffman Table.\r\n" },
    { 115, "Put Start of Image.\r\n" },
    { 116, "Put Qunatization table.\r\n" },
    { 117, "Put Huffman Table.\r\n" },
    { 118, "Put Start of frame.\r\n" },
    { 119, "Put Start of scan header.\r\n" },
    { 120, "Convert RGB color model to YUV model." },
    { 121, "Level shifting.\r\n" },
    { 122, "DCT and quatization.\r\n" },
    { 123, "Huffman code encoding.\r\n" },
    { 124, "Encoding finished.\r\n" },
    { 125, "Reading 'Secrect Data' from picture.\r\n" },
    { 126, "Saving 'Secret Data' into picture.\r\n" },
    { 127, "Generate the 'Key'.\r\n" },
    { 128, "Decryption Start.\r\n" },
    { 129, "Decryption End.\r\n" },
    { 130, "Encryption Start.\r\n" },
    { 131, "Ecryption End.\r\n" },
    { 133, "Please fill receiver's e-mail address field." },
    { 134, "Please fill message subject field." },
    { 135, "Please write down any message." },
    { 136, "Mail has successfully sent." },
    { 137, "Save option error." },
    { 138, "Save finished" },
    { 139, "Wrong password" },
    { 140, "file open error" },
    { 142, "Already Opened.\r\n\r\nClose current picture and load new one?" },
    { 143, "Do you really want to exit?" },
    { 144, "This is not a BMP file" },
    { 146, "Connect Mail Server error." },
    { 147, "Encoding attachment file....." },
    { 156, "Exploring network resource..." },
    { 157, "Connecting..." },
    { 158, "Changing a path..." },
    { 159, "Starting to download data..." },
    { 160, "Downloading data..." },
    { 161, "Finish downloading data." },
    { 162, "Starting to download components.." },
    { 163, "Installing components..." },
    { 164, "Terminate component download..." },
    { 165, "Using data in cash memory..." },
    { 166, "Requesting..." },
    { 167, "Class ID is available" },
    { 168, "MIME type is available" },
    { 169, "Cash file name is available" },
    { 170, "Start synchronization" },
    { 171, "Finish synchronizstion" },
    { 172, "Start data transmission" },
    { 173, "Transmitting data..." },
    { 174, "Finish data transmission" },
    { 175, "Protocol class ID" },
    { 176, "Encoding..." },
    { 177, "Verfied MIME type is available" },
    { 178, "where to install class" },
    { 179, "Decoding..." },
    { 180, "???" },
    { 181, "Receiving files has been Canceled.\r\n" },
    { 182, "Current Veilmark version : %s\r\n" },
    { 183, "Failed to check Veilmark version\r\n" },
    { 184, "File has been received successfully.\r\n" },
    { 185, "Failed to receive files\r\n" },
    { 186, "Wrong URL" },
    { 187, "Failed to create threads" },
    { 188, "The latest version : %d, %d, %d, %d\r\n" },
    { 189, "Starting to update with new version.\r\n" },
    { 190, "Yours is the latest version.\r\nYou do not need to upgrade.\r\n" },
    { 191, "\r\n=================================================\r\n\r\n" },
    { 192, "Patch file has been found. (%s)\r\n" },
    { 193, "Patch file was not found.\r\n" },
    { 194, "Reason : %s\r\n" },
    { 195, "The update program has been received from\r\n%s\r\nand saved as\r\n%s\r\n" },
    { 196, "The update program has not been started.\r\n" },
    { 197, "Failed to start the update program. (%s)\r\n" },
    { 198, "The received update program is empty or not a regular file. (%s)\r\n" },
    { 199, "The version file could not be read. (%s)\r\n" },
    { 200, "The patch list could not be read. (%s)\r\n" },
    { 201, "\r\nThe update server sent the request for\r\n%s\r\nthere.\r\n" },
    { 202,
        "\r\nIt came over plain http: nothing vouches that it is the program the update server offers, "
        "or that nobody has changed it on the way. Start it only if you trust it.\r\n" },
    { 203, "\r\nDo you want to start it now?" },
    { 700, "&Close" },
    { 701, "The file \"%s\" cannot be loaded: only pictures named *.bmp, *.jpg or *.jpeg can be opened." },
    { 702, "The picture was not saved.\r\n\r\n%s" },
    { 703, "The page \"%s\" could not be written.\r\n\r\n%s" },
    { 730, "The sender's e-mail address field holds a line break or NUL character; please remove it." },
    { 731, "The receiver's e-mail address field holds a line break or NUL character; please remove it." },
    { 732, "The message subject field holds a line break or NUL character; please remove it." },
    { 733, "The sender's e-mail address field has a '<' without a '>' after it." },
    { 734, "The receiver's e-mail address field has a '<' without a '>' after it." },
    { 735, "Sending the mail was cancelled." },
    { 736, "The server refused these receivers:" },
};

static_assert(std::is_sorted(std::begin(kStrings), std::end(kStrings),
                  [](const StringEntry& a, const StringEntry& b) { return a.id < b.id; }),
    "the string table must stay sorted by number");

constexpr std::size_t kTextLimit = 1024;

std::string FormatV(const char* format, va_list args)
{
    char buffer[kTextLimit];
    const int written = std::vsnprintf(buffer, sizeof buffer, format, args);
    if (written < 0)
        return {};
    return std::string(buffer, std::min<std::size_t>(static_cast<std::size_t>(written), kTextLimit - 1));
}

} // namespace

std::string LoadResString(unsigned id)
{
    const auto* end = std::end(kStrings);
    const auto* found = std::lower_bound(
        std::begin(kStrings), end, id, [](const StringEntry& entry, unsigned key) { return entry.id < key; });
    if (found == end || found->id != id)
        return {};
    std::string text = found->text;
    if (text.size() > kTextLimit - 1)
        text.resize(kTextLimit - 1);
    return text;
}

std::string FormatResString(unsigned id, ...)
{
    const std::string format = LoadResString(id);
    va_list args;
    va_start(args, id);
    std::string text = FormatV(format.c_str(), args);
    va_end(args);
    return text;
}

std::string FormatText(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::string text = FormatV(format, args);
    va_end(args);
    return text;
}
