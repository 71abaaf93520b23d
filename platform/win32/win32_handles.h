// The kinds of handle that only the pass-throughs hold, each closed by its
// own Windows call.
#pragma once

#include <oleauto.h>
#include <windows.h>

#include "platform/unique_handle.h"

namespace platform::win32 {

struct KernelHandleCloser {
  void operator()(HANDLE handle) const { ::CloseHandle(handle); }
};
struct FindHandleCloser {
  void operator()(HANDLE handle) const { ::FindClose(handle); }
};
struct BstrFreer {
  void operator()(BSTR text) const { ::SysFreeString(text); }
};
struct ComReleaser {
  void operator()(IUnknown* object) const { object->Release(); }
};

// A process, token or thread.
using UniqueKernelHandle = UniqueAny<HANDLE, KernelHandleCloser>;
// A directory search; FindFirstFileW fails with INVALID_HANDLE_VALUE.
using UniqueFindHandle = UniqueAny<HANDLE, FindHandleCloser, NullOrAllBitsSetIsNone>;
// A string in the form that crosses to another process.
using UniqueBstr = UniqueAny<BSTR, BstrFreer>;
// One reference to a COM interface.
template <typename Interface>
using UniqueComRef = UniqueAny<Interface*, ComReleaser>;

// For a call that hands out a new reference as void**.
template <typename Interface>
void** PutVoid(UniqueComRef<Interface>& reference) {
  return reinterpret_cast<void**>(reference.put());
}

// QueryInterface into `other`; false when the object does not have it.
template <typename Interface, typename Other>
bool QueryAs(const UniqueComRef<Interface>& object, UniqueComRef<Other>& other) {
  return object && SUCCEEDED(object.get()->QueryInterface(__uuidof(Other), PutVoid(other))) &&
         other;
}

}  // namespace platform::win32
