// The media framework's own view of the sample filter: registers it as a
// filter's installer does, through the framework's filter mapper, and reports
// what the framework finds of it. Everything goes through the framework's own
// objects and the system's class activation; nothing here reads the registry.
//
//   filter_framework.exe register SERVER [NAME]
//   filter_framework.exe report
//
// register  writes the class key with InprocServer32 (default value SERVER,
//           ThreadingModel Both), as a component's self-registration does,
//           then registers the filter (name NAME, "Sample Filter" by default)
//           in the category of ordinary filters through IFilterMapper2, with
//           its merit and its two pins and their media types.
// report    prints four lines, each a word and a number:
//             filters N   monikers that the system device enumerator lists in
//                         the category of ordinary filters
//             listed N    of those, the ones whose "CLSID" is the filter's
//             matched N   monikers of the filter mapper's search for the
//                         filter's input type that name the filter
//             class 0xH   the HRESULT of CoGetClassObject for the filter's
//                         class (0x80040154: the class is not registered)
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

namespace {

const int kFailed = 3;
const CLSID kFilter = {
    0x3A7D52C8, 0x6E19, 0x4B2F, {0x9C, 0x04, 0x71, 0xE5, 0xD8, 0xA0, 0xB6, 0xF3}};
const std::string kFilterKey = std::string("CLSID\\") + helpers::kFilterClsid;
// The compressed format that the sample filter decodes: the subtype of the
// four-character code "SMPL".
const GUID kSampleSubtype = {
    0x4C504D53, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

// Reports a failed call on stderr; returns false.
bool Failed(const char* what, long status) {
  std::fprintf(stderr, "%s failed: 0x%08lx\n", what, static_cast<unsigned long>(status));
  return false;
}

// Writes one REG_SZ value below HKEY_CLASSES_ROOT\`path`, creating the key.
bool WriteString(const std::string& path, const char* name, const char* value) {
  LONG status = helpers::WriteValue(HKEY_CLASSES_ROOT, path, name ? name : "", REG_SZ,
                                    std::string(value) + std::string(1, '\0'));
  return status == ERROR_SUCCESS || Failed(path.c_str(), status);
}

// The class key and InprocServer32 as the filter's self-registration writes them.
bool RegisterClassKey(const char* server, const char* name) {
  std::string inproc = kFilterKey + "\\InprocServer32";
  return WriteString(kFilterKey, nullptr, name) && WriteString(inproc, nullptr, server) &&
         WriteString(inproc, "ThreadingModel", "Both");
}

// The filter below the category of ordinary filters, through the filter mapper.
bool RegisterWithMapper(const char* name) {
  wchar_t wideName[128];
  if (MultiByteToWideChar(CP_ACP, 0, name, -1, wideName, 128) == 0)
    return Failed("MultiByteToWideChar", static_cast<long>(GetLastError()));
  // A decoder: compressed video in, uncompressed video out.
  const REGPINTYPES inputTypes[] = {{&MEDIATYPE_Video, &kSampleSubtype}};
  const REGPINTYPES outputTypes[] = {{&MEDIATYPE_Video, &MEDIASUBTYPE_RGB32},
                                     {&MEDIATYPE_Video, &MEDIASUBTYPE_RGB24}};
  REGFILTERPINS2 pins[2] = {};
  pins[0].nMediaTypes = 1;
  pins[0].lpMediaType = inputTypes;
  pins[1].dwFlags = REG_PINFLAG_B_OUTPUT;
  pins[1].nMediaTypes = 2;
  pins[1].lpMediaType = outputTypes;
  REGFILTER2 filter = {};
  filter.dwVersion = 2;
  filter.dwMerit = MERIT_NORMAL;
  filter.cPins2 = 2;
  filter.rgPins2 = pins;

  IFilterMapper2* mapper;
  HRESULT hr = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IFilterMapper2, reinterpret_cast<void**>(&mapper));
  if (FAILED(hr)) return Failed("CoCreateInstance(CLSID_FilterMapper2)", hr);
  hr = mapper->RegisterFilter(kFilter, wideName, nullptr, &CLSID_LegacyAmFilterCategory, nullptr,
                              &filter);
  mapper->Release();
  return SUCCEEDED(hr) || Failed("IFilterMapper2::RegisterFilter", hr);
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
  std::printf("filters %d\nlisted %d\nmatched %d\nclass 0x%08lx\n", filters, listed, matched,
              static_cast<unsigned long>(hr));
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  bool registering = argc >= 3 && argc <= 4 && std::strcmp(argv[1], "register") == 0;
  bool reporting = argc == 2 && std::strcmp(argv[1], "report") == 0;
  if (!registering && !reporting) {
    std::fprintf(stderr, "usage: filter_framework register SERVER [NAME] | report\n");
    return 2;
  }
  HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (FAILED(hr)) return Failed("CoInitializeEx", hr), kFailed;
  bool ok = registering ? RegisterClassKey(argv[2], argc == 4 ? argv[3] : "Sample Filter") &&
                              RegisterWithMapper(argc == 4 ? argv[3] : "Sample Filter")
                        : Report();
  CoUninitialize();
  return ok ? 0 : kFailed;
}
