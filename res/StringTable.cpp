#include "res/StringTable.h"

#include "res/StringIds.h"

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
    { IDS_ABOUTBOX, "&About Veilmark..." },
    { IDS_LOAD_PROMPT,
        "This picture contains secret message.\r\nYou have to enter correct password to see that message." },
    { IDS_SAVE_PROMPT, "Please enter a password.\r\nThe message will be encrypted with the password you now enter." },
    { IDS_LOG_FIND_SOI, "Finding 'Start Of Image'.\r\n" },
    { IDS_LOG_FIND_DRI, "Finding 'Restart Interval'.\r\n" },
    { IDS_LOG_FIND_SOS, "Finding 'Start Of Scan'.\r\n" },
    { IDS_LOG_FIND_DHT, "Finding 'Huffman Table'.\r\n" },
    { IDS_LOG_FIND_DQT, "Finding 'Quantization Table'.\r\n" },
    { IDS_LOG_FIND_SOF, "Finding 'Start Of Frame'.\r\n" },
    { IDS_LOG_READ_SECRET_START, "Start Reading Secret Data.\r\n" },
    { IDS_LOG_YUV_TO_RGB, "Converting YUV color to RGB.\r\n" },
    { IDS_LOG_READ_SECRET_END, "END Reading Secret Data.\r\n" },
    { IDS_LOG_INIT_HUFFMAN, "Initialize Huffman Table.\r\n" },
    { IDS_LOG_PUT_SOI, "Put Start of Image.\r\n" },
    { IDS_LOG_PUT_DQT, "Put Qunatization table.\r\n" },
    { IDS_LOG_PUT_DHT, "Put Huffman Table.\r\n" },
    { IDS_LOG_PUT_SOF, "Put Start of frame.\r\n" },
    { IDS_LOG_PUT_SOS, "Put Start of scan header.\r\n" },
    { IDS_LOG_RGB_TO_YUV, "Convert RGB color model to YUV model." },
    { IDS_LOG_LEVEL_SHIFT, "Level shifting.\r\n" },
    { IDS_LOG_DCT_QUANTIZE, "DCT and quatization.\r\n" },
    { IDS_LOG_HUFFMAN_ENCODE, "Huffman code encoding.\r\n" },
    { IDS_LOG_ENCODE_DONE, "Encoding finished.\r\n" },
    { IDS_LOG_READ_BMP_SECRET, "Reading 'Secrect Data' from picture.\r\n" },
    { IDS_LOG_SAVE_BMP_SECRET, "Saving 'Secret Data' into picture.\r\n" },
    { IDS_LOG_GENERATE_KEY, "Generate the 'Key'.\r\n" },
    { IDS_LOG_DECRYPT_START, "Decryption Start.\r\n" },
    { IDS_LOG_DECRYPT_END, "Decryption End.\r\n" },
    { IDS_LOG_ENCRYPT_START, "Encryption Start.\r\n" },
    { IDS_LOG_ENCRYPT_END, "Ecryption End.\r\n" },
    { IDS_NO_RECEIVER, "Please fill receiver's e-mail address field." },
    { IDS_NO_SUBJECT, "Please fill message subject field." },
    { IDS_NO_MESSAGE, "Please write down any message." },
    { IDS_MAIL_SENT, "Mail has successfully sent." },
    { IDS_SAVE_OPTION_ERROR, "Save option error." },
    { IDS_SAVE_FINISHED, "Save finished" },
    { IDS_WRONG_PASSWORD, "Wrong password" },
    { IDS_FILE_OPEN_ERROR, "file open error" },
    { IDS_ALREADY_OPENED, "Already Opened.\r\n\r\nClose current picture and load new one?" },
    { IDS_REALLY_EXIT, "Do you really want to exit?" },
    { IDS_NOT_BMP_FILE, "This is not a BMP file" },
    { IDS_CONNECT_FAILED, "Connect Mail Server error." },
    { IDS_ENCODING_ATTACHMENT, "Encoding attachment file....." },
    { IDS_DOWNLOAD_STATUS_BASE + 1, "Exploring network resource..." },
    { IDS_DOWNLOAD_STATUS_BASE + 2, "Connecting..." },
    { IDS_DOWNLOAD_STATUS_BASE + 3, "Changing a path..." },
    { IDS_DOWNLOAD_STATUS_BASE + 4, "Starting to download data..." },
    { IDS_DOWNLOAD_STATUS_BASE + 5, "Downloading data..." },
    { IDS_DOWNLOAD_STATUS_BASE + 6, "Finish downloading data." },
    { IDS_DOWNLOAD_STATUS_BASE + 7, "Starting to download components.." },
    { IDS_DOWNLOAD_STATUS_BASE + 8, "Installing components..." },
    { IDS_DOWNLOAD_STATUS_BASE + 9, "Terminate component download..." },
    { IDS_DOWNLOAD_STATUS_BASE + 10, "Using data in cash memory..." },
    { IDS_DOWNLOAD_STATUS_BASE + 11, "Requesting..." },
    { IDS_DOWNLOAD_STATUS_BASE + 12, "Class ID is available" },
    { IDS_DOWNLOAD_STATUS_BASE + 13, "MIME type is available" },
    { IDS_DOWNLOAD_STATUS_BASE + 14, "Cash file name is available" },
    { IDS_DOWNLOAD_STATUS_BASE + 15, "Start synchronization" },
    { IDS_DOWNLOAD_STATUS_BASE + 16, "Finish synchronizstion" },
    { IDS_DOWNLOAD_STATUS_BASE + 17, "Start data transmission" },
    { IDS_DOWNLOAD_STATUS_BASE + 18, "Transmitting data..." },
    { IDS_DOWNLOAD_STATUS_BASE + 19, "Finish data transmission" },
    { IDS_DOWNLOAD_STATUS_BASE + 20, "Protocol class ID" },
    { IDS_DOWNLOAD_STATUS_BASE + 21, "Encoding..." },
    { IDS_DOWNLOAD_STATUS_BASE + 22, "Verfied MIME type is available" },
    { IDS_DOWNLOAD_STATUS_BASE + 23, "where to install class" },
    { IDS_DOWNLOAD_STATUS_BASE + 24, "Decoding..." },
    { IDS_DOWNLOAD_STATUS_BASE + 25, "???" },
    { IDS_RECEIVE_CANCELED, "Receiving files has been Canceled.\r\n" },
    { IDS_CURRENT_VERSION, "Current Veilmark version : %s\r\n" },
    { IDS_VERSION_UNREADABLE, "Failed to check Veilmark version\r\n" },
    { IDS_RECEIVED, "File has been received successfully.\r\n" },
    { IDS_RECEIVE_FAILED, "Failed to receive files\r\n" },
    { IDS_WRONG_URL, "Wrong URL" },
    { IDS_NO_THREAD, "Failed to create threads" },
    { IDS_LATEST_VERSION, "The latest version : %d, %d, %d, %d\r\n" },
    { IDS_STARTING_UPDATE, "Starting to update with new version.\r\n" },
    { IDS_UP_TO_DATE, "Yours is the latest version.\r\nYou do not need to upgrade.\r\n" },
    { IDS_SEPARATOR, "\r\n=================================================\r\n\r\n" },
    { IDS_PATCH_FOUND, "Patch file has been found. (%s)\r\n" },
    { IDS_PATCH_NOT_FOUND, "Patch file was not found.\r\n" },
    { IDS_REASON, "Reason : %s\r\n" },
    { IDS_CONFIRM_PATCH, "The update program has been received from\r\n%s\r\nand saved as\r\n%s\r\n" },
    { IDS_PATCH_NOT_STARTED, "The update program has not been started.\r\n" },
    { IDS_PATCH_START_FAILED, "Failed to start the update program. (%s)\r\n" },
    { IDS_PATCH_REFUSED, "The received update program is empty or not a regular file. (%s)\r\n" },
    { IDS_VERSION_FILE_UNREADABLE, "The version file could not be read. (%s)\r\n" },
    { IDS_PATCH_LIST_UNREADABLE, "The patch list could not be read. (%s)\r\n" },
    { IDS_PATCH_REDIRECTED, "\r\nThe update server sent the request for\r\n%s\r\nthere.\r\n" },
    { IDS_PATCH_UNVOUCHED,
        "\r\nIt came over plain http: nothing vouches that it is the program the update server offers, "
        "or that nobody has changed it on the way. Start it only if you trust it.\r\n" },
    { IDS_ASK_START_PATCH, "\r\nDo you want to start it now?" },
    { IDS_CLOSE, "&Close" },
    { IDS_UNSUPPORTED_FILE,
        "The file \"%s\" cannot be loaded: only pictures named *.bmp, *.jpg, *.jpeg or *.png can be opened." },
    { IDS_SAVE_FAILED, "The picture was not saved.\r\n\r\n%s" },
    { IDS_PAGE_NOT_WRITTEN, "The page \"%s\" could not be written.\r\n\r\n%s" },
    { IDS_SENDER_BREAKS_LINE,
        "The sender's e-mail address field holds a line break or NUL character; please remove it." },
    { IDS_RECEIVER_BREAKS_LINE,
        "The receiver's e-mail address field holds a line break or NUL character; please remove it." },
    { IDS_SUBJECT_BREAKS_LINE, "The message subject field holds a line break or NUL character; please remove it." },
    { IDS_SENDER_UNCLOSED, "The sender's e-mail address field has a '<' without a '>' after it." },
    { IDS_RECEIVER_UNCLOSED, "The receiver's e-mail address field has a '<' without a '>' after it." },
    { IDS_SEND_CANCELLED, "Sending the mail was cancelled." },
    { IDS_RECEIVERS_REFUSED, "The server refused these receivers:" },
    { IDS_FORMAT_SEALED, "Sealed" },
    { IDS_FORMAT_COMPATIBLE, "Compatible with earlier versions" },
    { IDS_COMPATIBLE_PROTECTS,
        "Half of every 16 bytes of the message stay readable without the password; use Sealed to keep the whole "
        "message secret." },
    { IDS_SEALED_SAVE_PROMPT,
        "Please enter a password twice.\r\nThe message will be sealed with it: without the password nobody can read "
        "it or even tell that it is there." },
    { IDS_SEALED_REVEAL_PROMPT, "This picture may hold a sealed message.\r\nEnter the password it was sealed with." },
    { IDS_GUESS_COST, "Each wrong guess costs an attacker about %s seconds of computing on a computer like this one." },
    { IDS_GUESS_COST_MEASURING, "Measuring what one guess of the password costs..." },
    { IDS_PASSWORDS_DIFFER, "The two entries differ. Type the same password in both fields." },
    { IDS_SEALED_PASSWORD_EMPTY, "A sealed message needs a password." },
    { IDS_MESSAGE_COUNT, "%s of %s bytes (%s)" },
    { IDS_HIDDEN_FILE_COUNT, "File \"%s\": %s of %s bytes (%s)" },
    { IDS_FORMAT_QUESTION, "Format" },
    { IDS_BUSY_SEALING, "Sealing the message..." },
    { IDS_BUSY_OPENING, "Opening the sealed message..." },
    { IDS_PNG_NOT_COMPATIBLE,
        "A PNG picture cannot carry the format compatible with earlier versions.\r\nChoose Sealed to hide a message "
        "in it." },
    { IDS_SEALED_UNAVAILABLE, "This picture cannot carry a sealed message: %s" },
    { IDS_NOTHING_SEALED,
        "No sealed message opens with this password.\r\n\r\nA wrong password, a picture without a sealed message and "
        "a changed picture cannot be told apart." },
    { IDS_FILE_ONLY_SEALED, "A file can be hidden only in the Sealed format." },
    { IDS_SAVE_REVEALED_FILE, "Save the revealed file \"%s\"" },
    { IDS_REVEALED_FILE_WRITTEN, "The revealed file (%s bytes) was saved as \"%s\"." },
    { IDS_REPORT_MAY_BE_SEALED,
        "<p><b>Sealed:</b> this picture may hold a sealed message; nobody can tell without its password. Use "
        "Reveal... to open one. It takes a sealed message of up to %s bytes.</p>" },
    { IDS_REPORT_NOT_SEALABLE, "<p><b>Sealed:</b> %s</p>" },
    { IDS_RESULT_SUMMARY,
        "<table border=\"1\" cellspacing=\"0\"><tr><td>Format</td><td>%s</td></tr><tr><td>File written</td>"
        "<td>%s</td></tr><tr><td>Size</td><td>%s bytes</td></tr>%s</table>" },
    { IDS_RESULT_JPEG_REENCODED, "The pixels were decoded and encoded again." },
    { IDS_RESULT_JPEG_COEFFICIENTS, "Only coefficients changed; the picture was not encoded again." },
    { IDS_SEALED_TOO_LONG, "The %s is %s bytes long; this picture takes at most %s bytes in the Sealed format." },
    { IDS_CHOOSE_HIDDEN_FILE, "Choose the file to hide" },
    { IDS_SEALED_WRONG_KIND, "The sealed picture is written as a %s file: give it a name ending in %s." },
    { IDS_REVEALED_FILE_NOT_WRITTEN, "The revealed file was not saved.\r\n\r\n\"%s\": %s" },
    { IDS_HIDDEN_FILE_UNREADABLE, "The file \"%s\" cannot be read: %s" },
    { IDS_SEALED_FAILED, "The message was not sealed: %s" },
    { IDS_COMPATIBLE_TOO_LONG_SEALED_FITS,
        "%s\r\n\r\nIn the Sealed format this picture takes up to %s bytes; choose Sealed as the default format in "
        "Program Option." },
    { IDS_REMOVE_HIDDEN_FILE, "Remove the file" },
    { IDS_NO_SECRET_SERVICE,
        "No secret service is running, so the mail password cannot be kept; it is asked for at each send." },
    { IDS_ASK_MAIL_PASSWORD, "Password of %s on %s:" },
    { IDS_PASSWORD_NOT_STORED, "The mail password could not be kept in the secret service: %s" },
    { IDS_BAD_SMTP_PORT, "The port must be a number from 1 to 65535." },
    { IDS_MAIL_PASSWORD_TITLE, "Mail password" },
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
