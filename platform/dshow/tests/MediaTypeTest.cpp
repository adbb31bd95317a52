#include "platform/dshow/CMediaType.h"

#include <gtest/gtest.h>

#include "platform/com/CUnknown.h"
#include "platform/com/ComPtr.h"

namespace {

// Counts the references a media type takes on its pUnk.
class CCounted final : public CUnknown {
public:
    CCounted() : CUnknown(u"Counted", nullptr) {}
    LONG References() const { return m_cRef.load(); }
};

}  // namespace

TEST(MediaType, IdentifiersHaveTheirPublishedValues) {
    EXPECT_EQ(GuidToString(MEDIATYPE_Stream), "{E436EB83-524F-11CE-9F53-0020AF0BA770}");
    EXPECT_EQ(GuidToString(MEDIASUBTYPE_None), "{E436EB8E-524F-11CE-9F53-0020AF0BA770}");
    EXPECT_EQ(GuidToString(MEDIATYPE_Video), "{73646976-0000-0010-8000-00AA00389B71}");
    EXPECT_EQ(GuidToString(MEDIASUBTYPE_MPEG2_TRANSPORT), "{E06D8023-DB46-11CF-B4D1-00805F6CBBEA}");
    EXPECT_EQ(GuidToString(MEDIASUBTYPE_MPEG_ADTS_AAC), "{00001600-0000-0010-8000-00AA00389B71}");
    EXPECT_EQ(GuidToString(IID_IBaseFilter), "{56A86895-0AD4-11CE-B03A-0020AF0BA770}");
    EXPECT_EQ(GuidToString(IID_ISpecifyPropertyPages), "{B196B28B-BAB4-101A-B69C-00AA00341D07}");
    EXPECT_EQ(GuidToString(CLSID_DSoundRender), "{79376820-07D0-11CF-A24D-0020AFD79767}");
}

TEST(MediaType, CopiesOwnTheirFormatAndReference) {
    auto* counted = new CCounted();
    ComPtr<IUnknown> unknown;
    counted->NonDelegatingQueryInterface(IID_IUnknown, unknown.GetVoidAddressOf());

    CMediaType original(&MEDIATYPE_Audio);
    original.SetSubtype(&MEDIASUBTYPE_RAW_AAC1);
    original.SetFormatType(&FORMAT_WaveFormatEx);
    const BYTE format[20] = {0xFF, 0x00, 2, 0};
    ASSERT_TRUE(original.SetFormat(format, sizeof(format)));
    original.pUnk = unknown.Get();
    original.pUnk->AddRef();
    EXPECT_EQ(counted->References(), 2);

    {
        CMediaType copy(original);
        EXPECT_EQ(counted->References(), 3);
        EXPECT_TRUE(copy == original);
        EXPECT_NE(copy.Format(), original.Format());
        copy.Format()[0] = 1;
        EXPECT_TRUE(copy != original);  // the format takes part in equality
        AM_MEDIA_TYPE* created = CreateMediaType(&copy);
        ASSERT_NE(created, nullptr);
        EXPECT_EQ(counted->References(), 4);
        DeleteMediaType(created);
        DeleteMediaType(nullptr);
    }
    EXPECT_EQ(counted->References(), 2);
    original.ResetFormatBuffer();
    EXPECT_EQ(original.FormatLength(), 0u);
    BYTE* grown = original.ReallocFormatBuffer(8);
    EXPECT_EQ(grown, original.Format());
    EXPECT_EQ(original.FormatLength(), 8u);
    original.InitMediaType();  // drops the reference and the format
    EXPECT_EQ(counted->References(), 1);
    EXPECT_FALSE(original.IsValid());
}

TEST(MediaType, PartialTypesMatchWhatTheySpecify) {
    CMediaType full(&MEDIATYPE_Stream);
    full.SetSubtype(&MEDIASUBTYPE_MPEG2_TRANSPORT);
    full.SetFormatType(&FORMAT_None);
    EXPECT_FALSE(full.IsPartiallySpecified());

    CMediaType majorOnly(&MEDIATYPE_Stream);
    EXPECT_TRUE(majorOnly.IsPartiallySpecified());
    EXPECT_TRUE(full.MatchesPartial(&majorOnly));
    EXPECT_TRUE(full.MatchesPartial(nullptr));

    CMediaType otherSubtype(&MEDIATYPE_Stream);
    otherSubtype.SetSubtype(&KSDATAFORMAT_SUBTYPE_BDA_MPEG2_TRANSPORT);
    EXPECT_FALSE(full.MatchesPartial(&otherSubtype));

    CMediaType withFormat = full;
    withFormat.SetFormatType(&FORMAT_WaveFormatEx);
    EXPECT_FALSE(full.MatchesPartial(&withFormat));
}

TEST(MediaType, FormatBlocksHaveTheirPublishedSizes) {
    EXPECT_EQ(sizeof(MPEG2VIDEOINFO), 136u);
    EXPECT_EQ(sizeof(WAVEFORMATEX), 18u);
    EXPECT_EQ(offsetof(VIDEOINFOHEADER, AvgTimePerFrame), 40u);
    EXPECT_EQ(offsetof(VIDEOINFOHEADER2, bmiHeader), 72u);
}
