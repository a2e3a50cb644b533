#include "client/mainwindow/comevents.h"

#include <new>
#include <utility>

#include "client/mainwindow/browserprobe.h"

namespace comevents {

class DispatchSink final : public InvokeOnly<IDispatch> {
 public:
  DispatchSink(const IID& events, SinkReceiver* receiver) : events_(events), receiver_(receiver) {
    browserprobe::ObjectMade();
  }
  DispatchSink(const DispatchSink&) = delete;
  DispatchSink& operator=(const DispatchSink&) = delete;

  void Detach() { receiver_ = nullptr; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == events_) {
      *ppv = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const long left = --refs_;
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                                   UINT*) override {
    // A handler may end the host (and detach this sink) while it runs.
    win::ComPtr<DispatchSink> keep = win::ComPtr<DispatchSink>::Retain(this);
    if (!receiver_) return S_OK;
    try {
      return receiver_->OnSinkInvoke(events_, id, params, result);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    } catch (...) {
      return E_UNEXPECTED;
    }
  }

 private:
  ~DispatchSink() { browserprobe::ObjectGone(); }

  std::atomic<long> refs_{1};
  const IID events_;
  SinkReceiver* receiver_;
};

Connection::Connection() = default;
Connection::~Connection() { Disconnect(); }

HRESULT Connection::Connect(IUnknown* source, const IID& events, SinkReceiver* receiver) {
  Disconnect();
  if (!source) return E_POINTER;
  win::ComPtr<IConnectionPointContainer> container;
  HRESULT hr = source->QueryInterface(IID_IConnectionPointContainer, container.put_void());
  if (FAILED(hr)) return hr;
  win::ComPtr<IConnectionPoint> point;
  hr = container->FindConnectionPoint(events, point.put());
  if (FAILED(hr)) return hr;
  if (!point) return E_FAIL;
  win::ComPtr<DispatchSink> sink;
  *sink.put() = new (std::nothrow) DispatchSink(events, receiver);
  if (!sink) return E_OUTOFMEMORY;
  DWORD cookie = 0;
  hr = point->Advise(static_cast<IDispatch*>(sink.get()), &cookie);
  if (FAILED(hr)) {
    sink->Detach();
    return hr;
  }
  point_ = std::move(point);
  sink_ = std::move(sink);
  cookie_ = cookie;
  return S_OK;
}

void Connection::Disconnect() {
  if (point_) point_->Unadvise(cookie_);
  if (sink_) sink_->Detach();
  point_.reset();
  sink_.reset();
  cookie_ = 0;
}

bool SameObject(IUnknown* a, IUnknown* b) {
  if (!a || !b) return false;
  win::ComPtr<IUnknown> ua, ub;
  if (FAILED(a->QueryInterface(IID_IUnknown, ua.put_void())) ||
      FAILED(b->QueryInterface(IID_IUnknown, ub.put_void())))
    return false;
  return ua.get() == ub.get();
}

const VARIANT* Arg(const DISPPARAMS* params, UINT index) {
  if (!params || !params->rgvarg || index >= params->cArgs) return nullptr;
  const VARIANT* v = &params->rgvarg[params->cArgs - 1 - index];
  if (v->vt == (VT_BYREF | VT_VARIANT)) v = v->pvarVal;
  return v;
}

VARIANT_BOOL* BoolRefArg(const DISPPARAMS* params, UINT index) {
  if (!params || !params->rgvarg || index >= params->cArgs) return nullptr;
  VARIANT* v = &params->rgvarg[params->cArgs - 1 - index];
  if (v->vt == (VT_BYREF | VT_VARIANT) && v->pvarVal) v = v->pvarVal;
  return v->vt == (VT_BYREF | VT_BOOL) ? v->pboolVal : nullptr;
}

std::wstring TextArg(const DISPPARAMS* params, UINT index) {
  const VARIANT* v = Arg(params, index);
  BSTR text = nullptr;
  if (v && v->vt == VT_BSTR) text = v->bstrVal;
  if (v && v->vt == (VT_BYREF | VT_BSTR) && v->pbstrVal) text = *v->pbstrVal;
  return text ? std::wstring(text, ::SysStringLen(text)) : std::wstring();
}

IDispatch* DispatchArg(const DISPPARAMS* params, UINT index) {
  const VARIANT* v = Arg(params, index);
  return v && v->vt == VT_DISPATCH ? v->pdispVal : nullptr;
}

bool HasValueArg(const DISPPARAMS* params, UINT index) {
  const VARIANT* v = Arg(params, index);
  // The engine wraps post data in a further reference.
  for (int depth = 0; v && v->vt == (VT_BYREF | VT_VARIANT) && depth < 4; ++depth) v = v->pvarVal;
  if (!v || v->vt == VT_EMPTY || v->vt == VT_NULL || v->vt == VT_ERROR) return false;
  if (v->vt & VT_ARRAY) {
    SAFEARRAY* array = (v->vt & VT_BYREF) ? (v->pparray ? *v->pparray : nullptr) : v->parray;
    return array && array->cDims >= 1 && array->rgsabound[0].cElements > 0;
  }
  return true;
}

}  // namespace comevents
