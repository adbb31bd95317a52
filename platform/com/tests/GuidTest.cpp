#include "platform/com/Guid.h"

#include <gtest/gtest.h>

#include <unordered_set>

#include "platform/com/Categories.h"
#include "platform/com/Unknown.h"

TEST(Guid, FormatsInBracesWithUpperCaseDigits) {
    EXPECT_EQ(GuidToString(CLSID_LegacyAmFilterCategory), "{083863F1-70DE-11D0-BD40-00A0C911CE86}");
    EXPECT_EQ(GuidToString(IID_IUnknown), "{00000000-0000-0000-C000-000000000046}");
    EXPECT_EQ(GuidToString(GUID_NULL), "{00000000-0000-0000-0000-000000000000}");
}

TEST(Guid, ParsesEitherCaseAndRoundTrips) {
    GUID parsed{};
    ASSERT_TRUE(GuidFromString("{083863f1-70de-11d0-bd40-00a0c911ce86}", &parsed));
    EXPECT_EQ(parsed, CLSID_LegacyAmFilterCategory);
    ASSERT_TRUE(
        GuidFromString(std::u16string_view(u"{00000001-0000-0000-C000-000000000046}"), &parsed));
    EXPECT_EQ(parsed, IID_IClassFactory);
    const GUID odd{0xFFFFFFFF, 0x0001, 0xABCD, {0, 1, 2, 3, 0xFC, 0xFD, 0xFE, 0xFF}};
    ASSERT_TRUE(GuidFromString(GuidToString(odd), &parsed));
    EXPECT_EQ(parsed, odd);
}

TEST(Guid, RejectsMalformedTextWithoutTouchingTheOutput) {
    const GUID sentinel{1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    const char* bad[] = {
        "",
        "083863F1-70DE-11D0-BD40-00A0C911CE86",     // no braces
        "{083863F1-70DE-11D0-BD40-00A0C911CE8}",    // one digit short
        "{083863F1-70DE-11D0-BD40-00A0C911CE866}",  // one digit long
        "{083863F1_70DE-11D0-BD40-00A0C911CE86}",   // wrong separator
        "{083863G1-70DE-11D0-BD40-00A0C911CE86}",   // not hexadecimal
        "{083863F1-70DE-11D0-BD4000A0-C911CE86}",   // separator misplaced
        "{+83863F1-70DE-11D0-BD40-00A0C911CE86}",
    };
    for (const char* text : bad) {
        GUID out = sentinel;
        EXPECT_FALSE(GuidFromString(text, &out)) << text;
        EXPECT_EQ(out, sentinel) << text;
    }
    EXPECT_FALSE(GuidFromString("{083863F1-70DE-11D0-BD40-00A0C911CE86}", nullptr));
    CLSID clsid{};
    EXPECT_EQ(CLSIDFromString(u"nonsense", &clsid), CO_E_CLASSSTRING);
}

TEST(Guid, StringFromGuid2NeedsRoomForTheTerminator) {
    char16_t buffer[39];
    EXPECT_EQ(StringFromGUID2(IID_IUnknown, buffer, 38), 0);
    ASSERT_EQ(StringFromGUID2(IID_IUnknown, buffer, 39), 39);
    EXPECT_EQ(std::u16string(buffer), u"{00000000-0000-0000-C000-000000000046}");
}

TEST(Guid, HashesAndOrdersForContainers) {
    std::unordered_set<GUID> set{IID_IUnknown, IID_IClassFactory, IID_IUnknown};
    EXPECT_EQ(set.size(), 2u);
    EXPECT_TRUE(IID_IUnknown < IID_IClassFactory || IID_IClassFactory < IID_IUnknown);
    EXPECT_FALSE(IID_IUnknown < IID_IUnknown);
}
