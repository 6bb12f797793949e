// The recipient being typed is the text after a field's last ";", and
// accepting a suggestion replaces it alone; the picker's entries join the
// field with one ";".

#include "compose/recipient_typing.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

namespace kt {
namespace {

TEST(RecipientTyping, TheRecipientAfterTheLastSeparatorIsReplacedAndTheRestStays) {
    for (const auto& [field, typed, accepted] : std::vector<std::tuple<std::wstring, std::wstring, std::wstring>>{
             {L"bo", L"bo", L"bob@example.com,Bob Ray; "},
             {L"  bo  ", L"bo", L"  bob@example.com,Bob Ray; "},
             {L"ann@example.com,Ann; bo", L"bo", L"ann@example.com,Ann; bob@example.com,Bob Ray; "},
             {L"ann@example.com,Ann;bo r", L"bo r", L"ann@example.com,Ann;bob@example.com,Bob Ray; "},
             {L"ann@example.com,Ann; ", L"", L"ann@example.com,Ann; bob@example.com,Bob Ray; "},
         }) {
        EXPECT_EQ(typedRecipient(field).text, typed);
        EXPECT_EQ(withRecipientAccepted(field, L"bob@example.com,Bob Ray"), accepted);
    }
}

TEST(RecipientTyping, ThePickersEntriesFollowASemicolonUnlessTheFieldIsEmpty) {
    EXPECT_EQ(withRecipientsAdded(L"", L"b@x.org,B"), L"b@x.org,B");
    EXPECT_EQ(withRecipientsAdded(L"a@x.org,A", L"b@x.org,B"), L"a@x.org,A;b@x.org,B");
    EXPECT_EQ(withRecipientsAdded(L"a@x.org,A; ", L"b@x.org,B"), L"a@x.org,A; ;b@x.org,B");
    EXPECT_EQ(withRecipientsAdded(L" ", L"b@x.org,B"), L" ;b@x.org,B");
    EXPECT_EQ(withRecipientsAdded(L"a@x.org,A", L""), L"a@x.org,A;");
}

}  // namespace
}  // namespace kt
