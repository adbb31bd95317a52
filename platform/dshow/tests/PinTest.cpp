// Pin negotiation and enumeration, the in-place copy path, and connection through a filter of
// the registry.
#include <gtest/gtest.h>

#include "platform/com/ComRuntime.h"
#include "platform/com/ComponentRegistry.h"
#include "platform/com/TaskAllocator.h"
#include "platform/com/tests/TemporaryRegistry.h"
#include "platform/dshow/tests/TestFilters.h"

using namespace testfilters;

namespace {

ComPtr<IGraphBuilder> NewGraph() {
    ComPtr<IGraphBuilder> graph;
    EXPECT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                               graph.GetVoidAddressOf()),
              S_OK);
    return graph;
}

bool RunToCompletion(IGraphBuilder* graph) {
    ComPtr<IMediaControl> control;
    ComPtr<IMediaEvent> events;
    ComQuery(graph, &control);
    ComQuery(graph, &events);
    if (FAILED(control->Run())) {
        return false;
    }
    LONG code = 0;
    LONG_PTR param1;
    LONG_PTR param2;
    while (SUCCEEDED(events->GetEvent(&code, &param1, &param2, 5000))) {
        if (code == EC_COMPLETE) {
            control->Stop();
            return true;
        }
    }
    control->Stop();
    return false;
}

}  // namespace

TEST(Pin, PartialTypeRestrictsTheNegotiation) {
    const LONG before = CBaseObject::ObjectsActive();
    {
        ComPtr<IGraphBuilder> graph = NewGraph();
        ComPtr<IBaseFilter> source = Hold(new TestSource(1, kMs));
        ComPtr<IBaseFilter> sink = Hold(new TestSink());
        graph->AddFilter(source.Get(), u"Source");
        graph->AddFilter(sink.Get(), u"Sink");
        ComPtr<IPin> output = PinOf(source.Get(), PINDIR_OUTPUT);
        ComPtr<IPin> input = PinOf(sink.Get(), PINDIR_INPUT);

        CMediaType wrongMajor(&MEDIATYPE_Audio);  // partial: major type only
        EXPECT_EQ(graph->ConnectDirect(output.Get(), input.Get(), &wrongMajor),
                  VFW_E_NO_ACCEPTABLE_TYPES);
        CMediaType rightMajor(&MEDIATYPE_Stream);
        ASSERT_EQ(graph->ConnectDirect(output.Get(), input.Get(), &rightMajor), S_OK);
        AM_MEDIA_TYPE agreed;
        ASSERT_EQ(output->ConnectionMediaType(&agreed), S_OK);
        EXPECT_EQ(agreed.subtype, MEDIASUBTYPE_MPEG2_TRANSPORT);
        FreeMediaType(agreed);

        // Disconnection is one side at a time, and only while stopped.
        ASSERT_EQ(graph->Disconnect(input.Get()), S_OK);
        EXPECT_EQ(graph->Disconnect(input.Get()), S_FALSE);
        ASSERT_EQ(graph->Disconnect(output.Get()), S_OK);
        EXPECT_EQ(input->ConnectionMediaType(&agreed), VFW_E_NOT_CONNECTED);
    }
    EXPECT_EQ(CBaseObject::ObjectsActive(), before);
}

TEST(Pin, EnumeratorsFollowThePinsAndTypes) {
    const LONG before = CBaseObject::ObjectsActive();
    {
        auto* source = new TestSource(1, kMs);
        ComPtr<IBaseFilter> filter = Hold(source);
        ComPtr<IEnumPins> pins;
        ASSERT_EQ(filter->EnumPins(pins.GetAddressOf()), S_OK);
        IPin* batch[2] = {};
        ULONG fetched = 0;
        ASSERT_EQ(pins->Next(2, batch, &fetched), S_FALSE);
        ASSERT_EQ(fetched, 1u);
        batch[0]->Release();
        EXPECT_EQ(pins->Next(2, batch, nullptr), E_INVALIDARG);

        // A pin added later puts the enumerator out of step until it is reset.
        HRESULT hr = S_OK;
        new TestSourceStream(source, &hr, 1, kMs);
        EXPECT_EQ(pins->Next(1, batch, &fetched), VFW_E_ENUM_OUT_OF_SYNC);
        ASSERT_EQ(pins->Reset(), S_OK);
        EXPECT_EQ(pins->Skip(2), S_OK);
        EXPECT_EQ(pins->Skip(1), S_FALSE);

        ComPtr<IPin> output = PinOf(filter.Get(), PINDIR_OUTPUT);
        ComPtr<IEnumMediaTypes> types;
        ASSERT_EQ(output->EnumMediaTypes(types.GetAddressOf()), S_OK);
        AM_MEDIA_TYPE* offered[3] = {};
        ASSERT_EQ(types->Next(3, offered, &fetched), S_FALSE);
        ASSERT_EQ(fetched, 1u);
        EXPECT_EQ(offered[0]->majortype, MEDIATYPE_Stream);
        DeleteMediaType(offered[0]);
        ComPtr<IEnumMediaTypes> clone;
        ASSERT_EQ(types->Clone(clone.GetAddressOf()), S_OK);
        EXPECT_EQ(clone->Skip(1), S_FALSE);
        ASSERT_EQ(clone->Reset(), S_OK);
        EXPECT_EQ(clone->Skip(1), S_OK);

        LPWSTR id = nullptr;
        ASSERT_EQ(output->QueryId(&id), S_OK);
        EXPECT_EQ(std::u16string(id), u"Out");
        CoTaskMemFree(id);
        EXPECT_EQ(filter->FindPin(u"Out", output.GetAddressOf()), S_OK);
        EXPECT_EQ(filter->FindPin(u"Nothing", output.GetAddressOf()), VFW_E_NOT_FOUND);
    }
    EXPECT_EQ(CBaseObject::ObjectsActive(), before);
}

TEST(Pin, InPlaceFilterCopiesReadOnlyBuffersBeforeChangingThem) {
    const LONG before = CBaseObject::ObjectsActive();
    {
        ComPtr<IGraphBuilder> graph = NewGraph();
        ComPtr<IBaseFilter> source = Hold(new TestSource(4, kMs, TestSource::Kind::kReadOnly));
        auto* pass = new TestPassThrough();
        pass->add = 500;
        ComPtr<IBaseFilter> passFilter = Hold(pass);
        auto* sink = new TestSink();
        ComPtr<IBaseFilter> sinkFilter = Hold(sink);
        graph->AddFilter(source.Get(), u"Source");
        graph->AddFilter(passFilter.Get(), u"Pass");
        graph->AddFilter(sinkFilter.Get(), u"Sink");
        ASSERT_EQ(graph->ConnectDirect(PinOf(source.Get(), PINDIR_OUTPUT).Get(),
                                       PinOf(passFilter.Get(), PINDIR_INPUT).Get(), nullptr),
                  S_OK);
        ASSERT_EQ(graph->ConnectDirect(PinOf(passFilter.Get(), PINDIR_OUTPUT).Get(),
                                       PinOf(sinkFilter.Get(), PINDIR_INPUT).Get(), nullptr),
                  S_OK);
        EXPECT_TRUE(pass->UsingDifferentAllocators());
        ASSERT_TRUE(RunToCompletion(graph.Get()));
        EXPECT_EQ(sink->Rendered(), (std::vector<int32_t>{500, 501, 502, 503}));
    }
    EXPECT_EQ(CBaseObject::ObjectsActive(), before);
}

TEST(Pin, ConnectFindsAConvertingFilterInTheRegistry) {
    TemporaryRegistry registry;
    const LONG before = CBaseObject::ObjectsActive();
    {
        CategoryEntry converter;
        converter.category = CLSID_LegacyAmFilterCategory;
        converter.instance = GuidToU16String(CLSID_TestCopy);
        converter.clsid = CLSID_TestCopy;
        converter.friendlyName = u"Converter";
        converter.merit = MERIT_NORMAL;
        RegPin in;
        in.mediaTypes = {{MEDIATYPE_Stream, MEDIASUBTYPE_MPEG2_TRANSPORT}};
        RegPin out;
        out.output = true;
        converter.pins = {in, out};
        converter.create = [](REFIID iid, void** object) {
            auto* copy = new TestCopy();
            copy->outputSubtype = MEDIASUBTYPE_None;
            return Hold(copy)->QueryInterface(iid, object);
        };
        ASSERT_EQ(ComponentRegistry::RegisterBuiltinEntry(converter), S_OK);

        ComPtr<IGraphBuilder> graph = NewGraph();
        ComPtr<IBaseFilter> source = Hold(new TestSource(3, kMs));
        auto* sink = new TestSink();
        sink->acceptedSubtype = MEDIASUBTYPE_None;
        ComPtr<IBaseFilter> sinkFilter = Hold(sink);
        graph->AddFilter(source.Get(), u"Source");
        graph->AddFilter(sinkFilter.Get(), u"Sink");
        ComPtr<IPin> output = PinOf(source.Get(), PINDIR_OUTPUT);
        ComPtr<IPin> input = PinOf(sinkFilter.Get(), PINDIR_INPUT);
        EXPECT_EQ(graph->ConnectDirect(output.Get(), input.Get(), nullptr),
                  VFW_E_NO_ACCEPTABLE_TYPES);
        ASSERT_EQ(graph->Connect(output.Get(), input.Get()), S_OK);
        ComPtr<IBaseFilter> middle;
        ASSERT_EQ(graph->FindFilterByName(u"Converter", middle.GetAddressOf()), S_OK);
        ASSERT_TRUE(RunToCompletion(graph.Get()));
        EXPECT_EQ(sink->Rendered(), (std::vector<int32_t>{1000, 1001, 1002}));

        // Nothing can help when no registered filter takes the type.
        ComponentRegistry::UnregisterBuiltinEntry(CLSID_LegacyAmFilterCategory, converter.instance);
        ComPtr<IBaseFilter> other = Hold(new TestSource(1, kMs));
        auto* picky = new TestSink();
        picky->acceptedSubtype = MEDIASUBTYPE_None;
        ComPtr<IBaseFilter> pickyFilter = Hold(picky);
        graph->AddFilter(other.Get(), u"Other");
        graph->AddFilter(pickyFilter.Get(), u"Picky");
        EXPECT_EQ(graph->Connect(PinOf(other.Get(), PINDIR_OUTPUT).Get(),
                                 PinOf(pickyFilter.Get(), PINDIR_INPUT).Get()),
                  VFW_E_NO_ACCEPTABLE_TYPES);
    }
    EXPECT_EQ(CBaseObject::ObjectsActive(), before);
}
