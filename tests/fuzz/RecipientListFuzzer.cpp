// libFuzzer target: recipient lists and the sender as a user types them. The
// first byte picks the list; the rest is the text. Every stored entry must
// have an address without the white space around it, and the envelope
// address of a sender must be a part of the sender's text.

#include "mail/MailItem.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

// The blanks a typed address loses; a line break stays, so that sending can
// refuse it.
bool IsSpace(char c) { return c == ' ' || c == '\t'; }

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const int list = data[0] % 4; // 3 is no list at all
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);

    CMailItem item;
    item.ParseRecipientList(text, list);
    const int count = item.RecipientCount(list);
    if (count < 0 || (list == 3 && count != 0) || std::size_t(count) > text.size())
        __builtin_trap();
    for (int index = 0; index < count; ++index) {
        std::string address;
        std::string name;
        if (!item.RecipientAt(index, list, address, name) || address.empty() || IsSpace(address.front())
            || IsSpace(address.back()) || address.find(';') != std::string::npos)
            __builtin_trap();
    }
    std::string address;
    std::string name;
    if (item.RecipientAt(count, list, address, name))
        __builtin_trap();

    item.SetSender(text);
    const std::string envelope = item.SenderAddress();
    if (!envelope.empty() && text.find(envelope) == std::string::npos)
        __builtin_trap();
    return 0;
}
