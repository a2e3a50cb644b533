// The COM event plumbing of the browser host: late-bound dispatch objects,
// event sinks advised on connection points, and readers for the arguments
// the engine passes (in reverse order) in DISPPARAMS.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <oleauto.h>

#include <atomic>
#include <string>

#include "common/win/owners.h"

namespace comevents {

// Where a sink delivers its calls. A sink outlives its connection when the
// source keeps a reference, so it is detached from its receiver first.
class SinkReceiver {
 public:
  virtual HRESULT OnSinkInvoke(const IID& events, DISPID id, DISPPARAMS* params, VARIANT* result) = 0;

 protected:
  ~SinkReceiver() = default;
};

// An IDispatch reached only through Invoke with known ids: it has no type
// information and no names to look up.
template <typename Base>
class InvokeOnly : public Base {
 public:
  using Base::Base;
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
    if (info) *info = nullptr;
    return DISP_E_BADINDEX;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return DISP_E_UNKNOWNNAME;
  }
};

class DispatchSink;

// One advised sink on one connection point of one source.
class Connection {
 public:
  Connection();
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  HRESULT Connect(IUnknown* source, const IID& events, SinkReceiver* receiver);
  void Disconnect();
  bool connected() const { return static_cast<bool>(point_); }

 private:
  win::ComPtr<IConnectionPoint> point_;
  win::ComPtr<DispatchSink> sink_;
  DWORD cookie_ = 0;
};

// True when both are the same COM object (compared by IUnknown).
bool SameObject(IUnknown* a, IUnknown* b);

// Argument `index` in declaration order; by-reference variants are followed
// once. Null when there is no such argument.
const VARIANT* Arg(const DISPPARAMS* params, UINT index);
// The by-reference Boolean argument `index` (an event's Cancel), or null.
VARIANT_BOOL* BoolRefArg(const DISPPARAMS* params, UINT index);
// Text of argument `index` (a BSTR, also by reference); empty otherwise.
std::wstring TextArg(const DISPPARAMS* params, UINT index);
// The object of argument `index` (a browser object), or null.
IDispatch* DispatchArg(const DISPPARAMS* params, UINT index);
// Whether argument `index` holds something other than nothing (a form's
// post data).
bool HasValueArg(const DISPPARAMS* params, UINT index);

}  // namespace comevents
