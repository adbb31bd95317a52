#pragma once

// A media graph for one test: the graph manager with its control interface and the filters the
// test adds to it, and at the end the check that everything the test made is gone again.

#include <gtest/gtest.h>

#include <vector>

#include "platform/com/ComPtr.h"
#include "platform/com/ComRuntime.h"
#include "platform/dshow/ControlInterfaces.h"
#include "streamfw/tests/StreamTestFilters.h"

namespace streamtest {

class GraphTest : public ::testing::Test {
protected:
    void SetUp() override {
        baseline = CBaseObject::ObjectsActive();
        ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IGraphBuilder, graph.GetVoidAddressOf()),
                  S_OK);
        ASSERT_EQ(graph.As(&control), S_OK);
    }

    void TearDown() override {
        if (control) {
            control->Stop();
        }
        control.Reset();
        graph.Reset();
        filters.clear();
        // Graph, filters, pins, allocators and samples are all gone.
        EXPECT_EQ(CBaseObject::ObjectsActive(), baseline);
    }

    // Adds a new filter to the graph; the test holds it until its end.
    template <typename Filter>
    void Add(Filter* filter, const char16_t* name) {
        filters.push_back(Hold(filter));
        ASSERT_EQ(graph->AddFilter(filters.back().Get(), name), S_OK);
    }

    LONG baseline = 0;
    ComPtr<IGraphBuilder> graph;
    ComPtr<IMediaControl> control;

private:
    std::vector<ComPtr<IBaseFilter>> filters;
};

}  // namespace streamtest
