// The sample filter's module: a 32-bit in-process server of the filter class
// that the program removes, for the end-to-end tests and the demo to install,
// register with regsvr32, load and remove as a real filter's module. Its
// filter does nothing with media; it has what the media framework needs to
// create it and hold it in a filter graph: IBaseFilter with an input pin and
// an output pin, as it registers them (sample_filter.h). The tests also load
// it as a busy server file.

#include <dshow.h>
#include <olectl.h>
#include <windows.h>

#include <new>

#include "sample_filter.h"

namespace {

HMODULE g_module;
// Live objects and server locks: the module may be unloaded when both are 0.
LONG g_objects;
LONG g_locks;

class Filter;

// A pin of the filter: it lives and counts references with its filter, and
// connects to nothing.
class Pin final : public IPin {
 public:
  Pin(Filter* filter, PIN_DIRECTION direction, const wchar_t* id)
      : filter_(filter), direction_(direction), id_(id) {}

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  STDMETHODIMP Connect(IPin*, const AM_MEDIA_TYPE*) override { return VFW_E_NO_ACCEPTABLE_TYPES; }
  STDMETHODIMP ReceiveConnection(IPin*, const AM_MEDIA_TYPE*) override {
    return VFW_E_TYPE_NOT_ACCEPTED;
  }
  STDMETHODIMP Disconnect() override { return S_FALSE; }
  STDMETHODIMP ConnectedTo(IPin** pin) override {
    if (pin == nullptr) return E_POINTER;
    *pin = nullptr;
    return VFW_E_NOT_CONNECTED;
  }
  STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE*) override { return VFW_E_NOT_CONNECTED; }
  STDMETHODIMP QueryPinInfo(PIN_INFO* info) override;
  STDMETHODIMP QueryDirection(PIN_DIRECTION* direction) override {
    if (direction == nullptr) return E_POINTER;
    *direction = direction_;
    return S_OK;
  }
  STDMETHODIMP QueryId(LPWSTR* id) override;
  STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE*) override { return S_FALSE; }
  STDMETHODIMP EnumMediaTypes(IEnumMediaTypes**) override { return E_NOTIMPL; }
  STDMETHODIMP QueryInternalConnections(IPin**, ULONG*) override { return E_NOTIMPL; }
  STDMETHODIMP EndOfStream() override { return S_OK; }
  STDMETHODIMP BeginFlush() override { return S_OK; }
  STDMETHODIMP EndFlush() override { return S_OK; }
  STDMETHODIMP NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }

  const wchar_t* id() const { return id_; }

 private:
  Filter* filter_;
  PIN_DIRECTION direction_;
  const wchar_t* id_;
};

class Filter final : public IBaseFilter {
 public:
  Filter() { InterlockedIncrement(&g_objects); }
  ~Filter() {
    if (clock_ != nullptr) clock_->Release();
    InterlockedDecrement(&g_objects);
  }

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPersist) ||
        IsEqualIID(iid, IID_IMediaFilter) || IsEqualIID(iid, IID_IBaseFilter)) {
      *out = static_cast<IBaseFilter*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&references_); }
  STDMETHODIMP_(ULONG) Release() override {
    ULONG left = InterlockedDecrement(&references_);
    if (left == 0) delete this;
    return left;
  }

  STDMETHODIMP GetClassID(CLSID* id) override {
    if (id == nullptr) return E_POINTER;
    *id = kFilter;
    return S_OK;
  }

  STDMETHODIMP Stop() override { return SetState(State_Stopped); }
  STDMETHODIMP Pause() override { return SetState(State_Paused); }
  STDMETHODIMP Run(REFERENCE_TIME) override { return SetState(State_Running); }
  STDMETHODIMP GetState(DWORD, FILTER_STATE* state) override {
    if (state == nullptr) return E_POINTER;
    *state = state_;
    return S_OK;
  }
  STDMETHODIMP SetSyncSource(IReferenceClock* clock) override {
    if (clock != nullptr) clock->AddRef();
    if (clock_ != nullptr) clock_->Release();
    clock_ = clock;
    return S_OK;
  }
  STDMETHODIMP GetSyncSource(IReferenceClock** clock) override {
    if (clock == nullptr) return E_POINTER;
    *clock = clock_;
    if (clock_ != nullptr) clock_->AddRef();
    return S_OK;
  }

  STDMETHODIMP EnumPins(IEnumPins** pins) override;
  STDMETHODIMP FindPin(LPCWSTR id, IPin** found) override {
    if (id == nullptr || found == nullptr) return E_POINTER;
    *found = nullptr;
    Pin* candidate;
    for (ULONG index = 0; (candidate = pin(index)) != nullptr; ++index) {
      if (lstrcmpW(id, candidate->id()) == 0) {
        *found = candidate;
        candidate->AddRef();
        return S_OK;
      }
    }
    return VFW_E_NOT_FOUND;
  }
  STDMETHODIMP QueryFilterInfo(FILTER_INFO* info) override {
    if (info == nullptr) return E_POINTER;
    lstrcpynW(info->achName, name_, MAX_FILTER_NAME);
    info->pGraph = graph_;
    if (graph_ != nullptr) graph_->AddRef();
    return S_OK;
  }
  // The graph holds the filter; the filter keeps no reference on the graph.
  STDMETHODIMP JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override {
    graph_ = graph;
    lstrcpynW(name_, name != nullptr ? name : L"", MAX_FILTER_NAME);
    return S_OK;
  }
  STDMETHODIMP QueryVendorInfo(LPWSTR*) override { return E_NOTIMPL; }

  Pin* pin(ULONG index) { return index == 0 ? &input_ : index == 1 ? &output_ : nullptr; }

 private:
  HRESULT SetState(FILTER_STATE state) {
    state_ = state;
    return S_OK;
  }

  LONG references_ = 1;
  FILTER_STATE state_ = State_Stopped;
  IReferenceClock* clock_ = nullptr;
  IFilterGraph* graph_ = nullptr;
  wchar_t name_[MAX_FILTER_NAME] = L"";
  Pin input_{this, PINDIR_INPUT, L"In"};
  Pin output_{this, PINDIR_OUTPUT, L"Out"};
};

STDMETHODIMP Pin::QueryInterface(REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPin)) {
    *out = static_cast<IPin*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}
STDMETHODIMP_(ULONG) Pin::AddRef() { return filter_->AddRef(); }
STDMETHODIMP_(ULONG) Pin::Release() { return filter_->Release(); }

STDMETHODIMP Pin::QueryPinInfo(PIN_INFO* info) {
  if (info == nullptr) return E_POINTER;
  info->pFilter = filter_;
  filter_->AddRef();
  info->dir = direction_;
  lstrcpynW(info->achName, id_, MAX_PIN_NAME);
  return S_OK;
}

STDMETHODIMP Pin::QueryId(LPWSTR* id) {
  if (id == nullptr) return E_POINTER;
  size_t size = (lstrlenW(id_) + 1) * sizeof(wchar_t);
  *id = static_cast<LPWSTR>(CoTaskMemAlloc(size));
  if (*id == nullptr) return E_OUTOFMEMORY;
  CopyMemory(*id, id_, size);
  return S_OK;
}

// The filter's pins in order, input first; it holds the filter.
class PinEnumerator final : public IEnumPins {
 public:
  PinEnumerator(Filter* filter, ULONG position) : filter_(filter), position_(position) {
    filter_->AddRef();
    InterlockedIncrement(&g_objects);
  }
  ~PinEnumerator() {
    filter_->Release();
    InterlockedDecrement(&g_objects);
  }

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IEnumPins)) {
      *out = static_cast<IEnumPins*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&references_); }
  STDMETHODIMP_(ULONG) Release() override {
    ULONG left = InterlockedDecrement(&references_);
    if (left == 0) delete this;
    return left;
  }

  STDMETHODIMP Next(ULONG count, IPin** pins, ULONG* fetched) override {
    if (pins == nullptr || (count > 1 && fetched == nullptr)) return E_POINTER;
    ULONG done = 0;
    for (Pin* pin; done < count && (pin = filter_->pin(position_)) != nullptr; ++done) {
      pins[done] = pin;
      pin->AddRef();
      ++position_;
    }
    if (fetched != nullptr) *fetched = done;
    return done == count ? S_OK : S_FALSE;
  }
  STDMETHODIMP Skip(ULONG count) override {
    for (; count > 0 && filter_->pin(position_) != nullptr; --count) ++position_;
    return count == 0 ? S_OK : S_FALSE;
  }
  STDMETHODIMP Reset() override {
    position_ = 0;
    return S_OK;
  }
  STDMETHODIMP Clone(IEnumPins** copy) override {
    if (copy == nullptr) return E_POINTER;
    *copy = new (std::nothrow) PinEnumerator(filter_, position_);
    return *copy != nullptr ? S_OK : E_OUTOFMEMORY;
  }

 private:
  LONG references_ = 1;
  Filter* filter_;
  ULONG position_;
};

STDMETHODIMP Filter::EnumPins(IEnumPins** pins) {
  if (pins == nullptr) return E_POINTER;
  *pins = new (std::nothrow) PinEnumerator(this, 0);
  return *pins != nullptr ? S_OK : E_OUTOFMEMORY;
}

// The one class factory of the module, a static object.
class Factory final : public IClassFactory {
 public:
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
      *out = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  // A factory handed out keeps the module loaded, as a lock does.
  STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&g_locks) + 1; }
  STDMETHODIMP_(ULONG) Release() override { return InterlockedDecrement(&g_locks) + 1; }

  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    Filter* filter = new (std::nothrow) Filter;
    if (filter == nullptr) return E_OUTOFMEMORY;
    HRESULT hr = filter->QueryInterface(iid, out);
    filter->Release();
    return hr;
  }
  STDMETHODIMP LockServer(BOOL lock) override {
    if (lock)
      InterlockedIncrement(&g_locks);
    else
      InterlockedDecrement(&g_locks);
    return S_OK;
  }
};

Factory g_factory;

// Runs `call` with COM initialised on the calling thread; an apartment of
// another kind that the caller has already entered serves as well.
template <typename Call>
HRESULT WithCom(Call call) {
  HRESULT entered = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (FAILED(entered) && entered != RPC_E_CHANGED_MODE) return entered;
  HRESULT hr = call();
  if (SUCCEEDED(entered)) CoUninitialize();
  return hr;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_module = instance;
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (!IsEqualCLSID(clsid, kFilter)) return CLASS_E_CLASSNOTAVAILABLE;
  return g_factory.QueryInterface(iid, out);
}

STDAPI DllCanUnloadNow() { return g_objects == 0 && g_locks == 0 ? S_OK : S_FALSE; }

// The class key names this file by the path it was loaded from.
STDAPI DllRegisterServer() {
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(g_module, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return SELFREG_E_CLASS;
  return WithCom([&path] { return RegisterSampleFilter(path, "Sample Filter"); });
}

STDAPI DllUnregisterServer() { return WithCom(UnregisterSampleFilter); }
