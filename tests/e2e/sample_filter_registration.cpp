// The sample filter's registration (sample_filter.h): the class key as a
// component's self-registration writes it, the filter through the media
// framework's filter mapper.

#include <dshow.h>
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "sample_filter.h"

namespace {

HRESULT Failed(const char* what, HRESULT status) {
  std::fprintf(stderr, "%s failed: 0x%08lx\n", what, static_cast<unsigned long>(status));
  return status;
}

// Writes one REG_SZ value below HKEY_CLASSES_ROOT\`path`, creating the key.
HRESULT WriteString(const char* path, const char* name, const char* value) {
  HKEY key;
  LONG status = RegCreateKeyExA(HKEY_CLASSES_ROOT, path, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                &key, nullptr);
  if (status == ERROR_SUCCESS) {
    status = RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                            static_cast<DWORD>(std::strlen(value) + 1));
    RegCloseKey(key);
  }
  return status == ERROR_SUCCESS ? S_OK : Failed(path, HRESULT_FROM_WIN32(status));
}

HRESULT CreateMapper(IFilterMapper2** mapper) {
  HRESULT hr = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IFilterMapper2, reinterpret_cast<void**>(mapper));
  return SUCCEEDED(hr) ? hr : Failed("CoCreateInstance(CLSID_FilterMapper2)", hr);
}

}  // namespace

HRESULT RegisterSampleFilter(const char* server, const char* name) {
  char inproc[sizeof kFilterKey + 16];
  std::snprintf(inproc, sizeof inproc, "%s\\InprocServer32", kFilterKey);
  HRESULT hr = WriteString(kFilterKey, nullptr, name);
  if (SUCCEEDED(hr)) hr = WriteString(inproc, nullptr, server);
  if (SUCCEEDED(hr)) hr = WriteString(inproc, "ThreadingModel", "Both");
  if (FAILED(hr)) return hr;

  wchar_t wideName[128];
  if (MultiByteToWideChar(CP_ACP, 0, name, -1, wideName, 128) == 0)
    return Failed("MultiByteToWideChar", HRESULT_FROM_WIN32(GetLastError()));
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
  hr = CreateMapper(&mapper);
  if (FAILED(hr)) return hr;
  hr = mapper->RegisterFilter(kFilter, wideName, nullptr, &CLSID_LegacyAmFilterCategory, nullptr,
                              &filter);
  mapper->Release();
  return SUCCEEDED(hr) ? S_OK : Failed("IFilterMapper2::RegisterFilter", hr);
}

HRESULT UnregisterSampleFilter() {
  IFilterMapper2* mapper;
  HRESULT hr = CreateMapper(&mapper);
  if (FAILED(hr)) return hr;
  hr = mapper->UnregisterFilter(&CLSID_LegacyAmFilterCategory, nullptr, kFilter);
  mapper->Release();
  if (FAILED(hr) && hr != HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND))
    return Failed("IFilterMapper2::UnregisterFilter", hr);
  LONG status = RegDeleteTreeA(HKEY_CLASSES_ROOT, kFilterKey);
  if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
    return Failed(kFilterKey, HRESULT_FROM_WIN32(status));
  return S_OK;
}
