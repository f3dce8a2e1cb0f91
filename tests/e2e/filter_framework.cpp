// The media framework's own view of the sample filter: registers it as a
// filter's installer does, through the framework's filter mapper, and reports
// what the framework finds of it. Everything goes through the framework's own
// objects and the system's class activation; nothing here reads the registry.
//
//   filter_framework.exe register SERVER [NAME]
//   filter_framework.exe report
//   filter_framework.exe play READY STOP
//
// register  registers the filter as its own module does (sample_filter.h),
//           with SERVER as its server file and NAME ("Sample Filter" by
//           default) as its name.
// report    prints five lines, each a word and a number:
//             filters N   monikers that the system device enumerator lists in
//                         the category of ordinary filters
//             listed N    of those, the ones whose "CLSID" is the filter's
//             matched N   monikers of the filter mapper's search for the
//                         filter's input type that name the filter
//             class 0xH   the HRESULT of CoGetClassObject for the filter's
//                         class (0x80040154: the class is not registered)
//             created 0xH the HRESULT of creating the filter and adding it to
//                         a new filter graph, as a player does (0: both
//                         succeeded; else the first failure's)
// play      as a player does, holds the filter in a filter graph: creates
//           the file READY once the graph holds it, and lets it go when the
//           file STOP exists (after five minutes at most).
//
// Exits 0 when it did what it was asked, 2 on a wrong command line, 3 when a
// call failed (named on stderr).

#include <dshow.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "helpers/registry_writes.h"
#include "helpers/sample_filter.h"
#include "sample_filter.h"

namespace {

const int kFailed = 3;

// Reports a failed call on stderr; returns false.
bool Failed(const char* what, long status) {
  std::fprintf(stderr, "%s failed: 0x%08lx\n", what, static_cast<unsigned long>(status));
  return false;
}

// Creates the filter through the system's class activation and adds it to a
// new filter graph; on success the caller releases both.
HRESULT CreateInGraph(IGraphBuilder** graph, IBaseFilter** filter) {
  HRESULT hr = CoCreateInstance(kFilter, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                reinterpret_cast<void**>(filter));
  if (FAILED(hr)) return hr;
  hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                        reinterpret_cast<void**>(graph));
  if (SUCCEEDED(hr)) {
    hr = (*graph)->AddFilter(*filter, L"Sample Filter");
    if (FAILED(hr)) (*graph)->Release();
  }
  if (FAILED(hr)) (*filter)->Release();
  return hr;
}

// Whether the moniker's property bag names the filter's class as "CLSID";
// false with `ok` cleared when it cannot be read.
bool NamesFilter(IMoniker* moniker, bool* ok) {
  IPropertyBag* bag;
  HRESULT hr =
      moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(&bag));
  if (FAILED(hr)) return *ok = Failed("IMoniker::BindToStorage", hr);
  VARIANT value;
  VariantInit(&value);
  hr = bag->Read(L"CLSID", &value, nullptr);
  bag->Release();
  // An entry without a "CLSID" names no class, and not the filter's (Wine
  // says ERROR_NOT_FOUND, a registry read ERROR_FILE_NOT_FOUND).
  if (hr == HRESULT_FROM_WIN32(ERROR_NOT_FOUND) || hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND))
    return false;
  if (FAILED(hr)) return *ok = Failed("IPropertyBag::Read(CLSID)", hr);
  CLSID clsid;
  bool names = value.vt == VT_BSTR && SUCCEEDED(CLSIDFromString(value.bstrVal, &clsid)) &&
               IsEqualCLSID(clsid, kFilter);
  VariantClear(&value);
  return names;
}

// Counts the monikers of `monikers` (released here) and those naming the
// filter; false when one cannot be read. A null enumerator (S_FALSE: an empty
// category) counts none.
bool CountMonikers(IEnumMoniker* monikers, int* total, int* naming) {
  *total = *naming = 0;
  if (monikers == nullptr) return true;
  bool ok = true;
  IMoniker* moniker;
  while (ok && monikers->Next(1, &moniker, nullptr) == S_OK) {
    ++*total;
    if (NamesFilter(moniker, &ok)) ++*naming;
    moniker->Release();
  }
  monikers->Release();
  return ok;
}

bool Report() {
  ICreateDevEnum* devices;
  HRESULT hr = CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                                IID_ICreateDevEnum, reinterpret_cast<void**>(&devices));
  if (FAILED(hr)) return Failed("CoCreateInstance(CLSID_SystemDeviceEnum)", hr);
  IEnumMoniker* monikers = nullptr;
  hr = devices->CreateClassEnumerator(CLSID_LegacyAmFilterCategory, &monikers, 0);
  devices->Release();
  if (FAILED(hr)) return Failed("ICreateDevEnum::CreateClassEnumerator", hr);
  int filters, listed;
  if (!CountMonikers(monikers, &filters, &listed)) return false;

  IFilterMapper2* mapper;
  hr = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                        reinterpret_cast<void**>(&mapper));
  if (FAILED(hr)) return Failed("CoCreateInstance(CLSID_FilterMapper2)", hr);
  const GUID inputType[] = {MEDIATYPE_Video, kSampleSubtype};
  monikers = nullptr;
  hr = mapper->EnumMatchingFilters(&monikers, 0, TRUE, MERIT_DO_NOT_USE + 1, TRUE, 1, inputType,
                                   nullptr, nullptr, FALSE, FALSE, 0, nullptr, nullptr, nullptr);
  mapper->Release();
  if (FAILED(hr)) return Failed("IFilterMapper2::EnumMatchingFilters", hr);
  int matching, matched;
  if (!CountMonikers(monikers, &matching, &matched)) return false;

  IUnknown* factory = nullptr;
  hr = CoGetClassObject(kFilter, CLSCTX_INPROC_SERVER, nullptr, IID_IUnknown,
                        reinterpret_cast<void**>(&factory));
  if (factory != nullptr) factory->Release();
  IGraphBuilder* graph;
  IBaseFilter* filter;
  HRESULT created = CreateInGraph(&graph, &filter);
  if (SUCCEEDED(created)) {
    filter->Release();
    graph->Release();
  }
  std::printf("filters %d\nlisted %d\nmatched %d\nclass 0x%08lx\ncreated 0x%08lx\n", filters,
              listed, matched, static_cast<unsigned long>(hr), static_cast<unsigned long>(created));
  return true;
}

// Holds the filter in a filter graph from the creation of `ready` until
// `stop` exists.
bool Play(const char* ready, const char* stop) {
  IGraphBuilder* graph;
  IBaseFilter* filter;
  HRESULT hr = CreateInGraph(&graph, &filter);
  if (FAILED(hr)) return Failed("creating the filter in a filter graph", hr);
  HANDLE file = CreateFileA(ready, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  bool ok = file != INVALID_HANDLE_VALUE || Failed(ready, static_cast<long>(GetLastError()));
  if (ok) CloseHandle(file);
  for (int waited = 0; ok && GetFileAttributesA(stop) == INVALID_FILE_ATTRIBUTES; waited += 50) {
    if (waited >= 300000) ok = Failed("waiting for the stop file", WAIT_TIMEOUT);
    Sleep(50);
  }
  filter->Release();
  graph->Release();
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  bool registering = argc >= 3 && argc <= 4 && std::strcmp(argv[1], "register") == 0;
  bool reporting = argc == 2 && std::strcmp(argv[1], "report") == 0;
  bool playing = argc == 4 && std::strcmp(argv[1], "play") == 0;
  if (!registering && !reporting && !playing) {
    std::fprintf(stderr,
                 "usage: filter_framework register SERVER [NAME] | report | play READY STOP\n");
    return 2;
  }
  HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (FAILED(hr)) return Failed("CoInitializeEx", hr), kFailed;
  bool ok = registering
                ? SUCCEEDED(RegisterSampleFilter(argv[2], argc == 4 ? argv[3] : "Sample Filter"))
            : reporting ? Report()
                        : Play(argv[2], argv[3]);
  CoUninitialize();
  return ok ? 0 : kFailed;
}
