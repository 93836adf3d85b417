#include "mail/MailItem.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <regex>
#include <string>
#include <utility>
#include <vector>

namespace {

using Entries = std::vector<std::pair<std::string, std::string>>; // address, name

Entries ListOf(const CMailItem& item, int list)
{
    Entries entries;
    for (int index = 0; index < item.RecipientCount(list); ++index) {
        std::string address;
        std::string name;
        EXPECT_TRUE(item.RecipientAt(index, list, address, name));
        entries.emplace_back(address, name);
    }
    return entries;
}

std::vector<std::string> HeaderLines(const std::string& header)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = header.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(header.substr(start, end - start));
    EXPECT_EQ(start, header.size()) << "the header ends with a line break";
    return lines;
}

struct RecipientCase {
    const char* text;
    bool parsed;
    Entries entries;
};

TEST(MailItem, ParsesRecipientTexts)
{
    const RecipientCase cases[] = {
        { "a@example.com;Bob <b@example.com>", true, { { "a@example.com", "" }, { "b@example.com", "Bob " } } },
        // Addresses lose the blanks around them; empty entries are skipped.
        { "a@example.com;", true, { { "a@example.com", "" } } },
        { "a@x; b@x;", true, { { "a@x", "" }, { "b@x", "" } } },
        { "a@example.com;;b@example.com", true, { { "a@example.com", "" }, { "b@example.com", "" } } },
        { " a@example.com ; Ann< ann@example.com > ", true,
            { { "a@example.com", "" }, { "ann@example.com", " Ann" } } },
        { "Nobody <>; ;", true, {} },
        { "a@example.com;Bob <b@example.com;c@example.com", false, { { "a@example.com", "" } } },
        { "Bob >b@example.com<", false, {} },
        { "", true, {} },
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.text);
        CMailItem item;
        EXPECT_EQ(item.ParseRecipientList(test.text, CMailItem::kTo), test.parsed);
        EXPECT_EQ(ListOf(item, CMailItem::kTo), test.entries);
    }
}

TEST(MailItem, KeepsThreeListsApartAndGuardsTheirBounds)
{
    CMailItem item;
    item.StoreRecipient("to@example.com", "", CMailItem::kTo);
    item.StoreRecipient("cc@example.com", "Carol ", CMailItem::kCc);
    item.StoreRecipient("nowhere@example.com", "", 3);
    EXPECT_EQ(item.RecipientCount(CMailItem::kTo), 1);
    EXPECT_EQ(item.RecipientCount(CMailItem::kCc), 1);
    EXPECT_EQ(item.RecipientCount(CMailItem::kBcc), 0);
    EXPECT_EQ(item.RecipientCount(3), 0);

    std::string address = "untouched";
    std::string name = "untouched";
    EXPECT_FALSE(item.RecipientAt(1, CMailItem::kTo, address, name));
    EXPECT_FALSE(item.RecipientAt(-1, CMailItem::kTo, address, name));
    EXPECT_EQ(address, "untouched");
    EXPECT_EQ(name, "untouched");
}

TEST(MailItem, BuildsTheHeaderLinesInOrderWithoutBlindCopies)
{
    CMailItem item;
    item.SetSender("user@example.com");
    item.SetSubject("Holiday pictures");
    item.SetBody("Hello");
    ASSERT_TRUE(item.ParseRecipientList("a@example.com;Bob <b@example.com>", CMailItem::kTo));
    item.StoreRecipient("hidden@example.com", "", CMailItem::kBcc);
    ASSERT_TRUE(item.Finalize());

    const auto lines = HeaderLines(item.Header());
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(lines[0], "From: user@example.com");
    EXPECT_EQ(lines[1], "To: <a@example.com>,Bob <b@example.com>");
    EXPECT_EQ(lines[2], "Cc: ");
    // RFC 5322 3.3: a four-digit year and the zone as an offset from UTC.
    EXPECT_TRUE(std::regex_match(lines[3],
        std::regex(R"(Date: (Mon|Tue|Wed|Thu|Fri|Sat|Sun), \d\d )"
                   R"((Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) )"
                   R"(20\d\d \d\d:\d\d:\d\d [+-]\d{4})")))
        << lines[3];
    EXPECT_TRUE(std::regex_match(lines[4], std::regex(R"(Message-ID: <[0-9a-f]{32}@example\.com>)"))) << lines[4];
    EXPECT_EQ(lines[5], "Subject: Holiday pictures");
    EXPECT_EQ(lines[6], "X-Mailer: QZ Mail");
    EXPECT_EQ(lines[7], "") << "an empty line ends the header";
    EXPECT_EQ(item.Header().find("hidden@example.com"), std::string::npos);

    EXPECT_EQ(item.Body(), "Hello\r\n");
}

TEST(MailItem, DatesCarryTheZoneAsAnOffsetAndMessageIdsDiffer)
{
    // A zone west of UTC with no name a receiver could know.
    const char* previous = std::getenv("TZ");
    const std::string kept = previous ? previous : "";
    ::setenv("TZ", "<-03>3", 1);
    ::tzset();
    CMailItem first;
    first.SetSender("Alice <alice@example.org>");
    ASSERT_TRUE(first.Finalize());
    CMailItem second;
    ASSERT_TRUE(second.Finalize());
    if (previous)
        ::setenv("TZ", kept.c_str(), 1);
    else
        ::unsetenv("TZ");
    ::tzset();

    std::time_t shifted = first.Date() - 3 * 3600;
    std::tm wall {};
    gmtime_r(&shifted, &wall);
    char expected[64];
    std::strftime(expected, sizeof expected, "Date: %a, %d %b %Y %H:%M:%S -0300", &wall);
    const auto lines = HeaderLines(first.Header());
    EXPECT_EQ(lines[3], expected);
    EXPECT_TRUE(first.MessageId().ends_with("@example.org>")) << first.MessageId();
    EXPECT_TRUE(second.MessageId().ends_with("@veilmark.invalid>")) << "no sender, no domain of its own";
    EXPECT_NE(first.MessageId().substr(0, 33), second.MessageId().substr(0, 33));
}

TEST(MailItem, TakesTheSenderAddressOutOfANamedSender)
{
    const struct {
        const char* sender;
        const char* address;
    } cases[] = {
        { "a@example.org", "a@example.org" },
        { "Alice <a@example.org>", "a@example.org" },
        { "  a@example.org\t", "a@example.org" },
        { "Alice < a@example.org > (home)", "a@example.org" },
        { "Alice <a@example.org", "" },
        { "", "" },
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.sender);
        CMailItem item;
        item.SetSender(test.sender);
        EXPECT_EQ(item.SenderAddress(), test.address);
    }
}

} // namespace
