// The event plumbing: the engine's arguments read in declaration order, and
// a sink that outlives its connection delivers nothing.
#include "client/mainwindow/comevents.h"

#include <exdisp.h>
#include <exdispid.h>

#include <gtest/gtest.h>

#include "tests/mainwindow/browserfixture.h"

namespace {

using namespace browsertest;

TEST(ComEvents, ArgumentsAreReadInDeclarationOrderThroughReferences) {
  win::Variant url(std::wstring(L"http://127.0.0.1:18082/")), empty;
  VARIANT_BOOL cancel = VARIANT_FALSE;
  SAFEARRAY* bytes = ::SafeArrayCreateVector(VT_UI1, 0, 2);
  VARIANT post{}, nothing{};
  post.vt = VT_ARRAY | VT_UI1;
  post.parray = bytes;
  SAFEARRAY* none = ::SafeArrayCreateVector(VT_UI1, 0, 0);
  nothing.vt = VT_ARRAY | VT_UI1;
  nothing.parray = none;
  std::vector<VARIANT> args = {Dispatch(nullptr), ByRef(url.get()),   ByRef(&post),
                               ByRef(&nothing),   ByRef(empty.get()), BoolRef(&cancel)};
  std::reverse(args.begin(), args.end());
  DISPPARAMS params{args.data(), nullptr, static_cast<UINT>(args.size()), 0};

  EXPECT_EQ(comevents::TextArg(&params, 1), L"http://127.0.0.1:18082/");
  EXPECT_EQ(comevents::TextArg(&params, 0), L"");
  EXPECT_EQ(comevents::BoolRefArg(&params, 5), &cancel);
  EXPECT_EQ(comevents::BoolRefArg(&params, 1), nullptr);
  EXPECT_TRUE(comevents::HasValueArg(&params, 2)) << "a form's data";
  EXPECT_FALSE(comevents::HasValueArg(&params, 3)) << "no bytes";
  EXPECT_FALSE(comevents::HasValueArg(&params, 4));
  EXPECT_EQ(comevents::Arg(&params, 6), nullptr);
  ::SafeArrayDestroy(bytes);
  ::SafeArrayDestroy(none);
}

struct Counter : comevents::SinkReceiver {
  int calls = 0;
  HRESULT OnSinkInvoke(const IID&, DISPID, DISPPARAMS*, VARIANT*) override { return ++calls, S_OK; }
};

TEST(ComEvents, ASinkLeftOverAfterItsConnectionDeliversNothing) {
  win::OleScope ole;
  win::ComPtr<IWebBrowser2> browser;
  ASSERT_EQ(::CoCreateInstance(CLSID_WebBrowser, nullptr, CLSCTX_INPROC_SERVER, IID_IWebBrowser2, browser.put_void()),
            S_OK);
  Counter counter;
  {
    comevents::Connection connection;
    EXPECT_EQ(connection.Connect(nullptr, DIID_DWebBrowserEvents2, &counter), E_POINTER);
    ASSERT_EQ(connection.Connect(browser.get(), DIID_DWebBrowserEvents2, &counter), S_OK);
    EXPECT_TRUE(connection.connected());
    win::ComPtr<IDispatch> sink = SinkOf(browser.get());
    ASSERT_TRUE(sink);
    ASSERT_EQ(Raise(sink.get(), DISPID_DOWNLOADBEGIN, {}), S_OK);
    EXPECT_EQ(counter.calls, 1);
    connection.Disconnect();
    EXPECT_FALSE(connection.connected());
    ASSERT_EQ(Raise(sink.get(), DISPID_DOWNLOADBEGIN, {}), S_OK);
    EXPECT_EQ(counter.calls, 1);
  }
  EXPECT_EQ(browserhost_testing::LiveObjects(), 0);
}

}  // namespace
