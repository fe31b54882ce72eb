#pragma once
// Move-only owners for Win32 resources: every early return releases what it holds. A new owner
// is one line: its type, its release function and, when that is not the type's zero value,
// what "absent" is.
#include <windows.h>
#include <bcrypt.h>
#include <wininet.h>

#include <utility>

namespace vantile {

template <class Type>
constexpr Type zero_value() noexcept {
    return Type{};
}
inline HANDLE invalid_handle_value() noexcept {
    return INVALID_HANDLE_VALUE;
}

// Releasing keeps the thread's last-error code, so a failed call's code can be read after the
// owner took its result or went out of scope.
template <class Type, auto release_function, auto absent = zero_value<Type>>
class UniqueResource {
  public:
    UniqueResource() = default;
    explicit UniqueResource(Type value) : value_(value) {}
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~UniqueResource() { reset(); }

    Type get() const noexcept { return value_; }
    explicit operator bool() const noexcept { return value_ != absent(); }
    Type release() noexcept { return std::exchange(value_, absent()); }
    void reset(Type value = absent()) noexcept {
        if (value_ != absent()) {
            const DWORD last_error = GetLastError();
            release_function(value_);
            SetLastError(last_error);
        }
        value_ = value;
    }
    // For a call that returns the resource through an out-parameter: releases what is held
    // and hands out the empty slot.
    Type* put() noexcept {
        reset();
        return &value_;
    }

  private:
    Type value_ = absent();
};

// Release functions with the owner's signature (named, so that every file names one type).
inline void close_handle(HANDLE handle) {
    CloseHandle(handle);
}
inline void close_internet_handle(HINTERNET handle) {
    InternetCloseHandle(handle);
}
inline void delete_font(HFONT font) {
    DeleteObject(font);
}
inline void free_module(HMODULE module) {
    FreeLibrary(module);
}
inline void close_algorithm(BCRYPT_ALG_HANDLE algorithm) {
    BCryptCloseAlgorithmProvider(algorithm, 0);
}
inline void destroy_hash(BCRYPT_HASH_HANDLE hash) {
    BCryptDestroyHash(hash);
}

// Process, thread, mutex and event handles (null when absent).
using UniqueHandle = UniqueResource<HANDLE, close_handle>;
// File handles from CreateFileW (INVALID_HANDLE_VALUE when absent).
using UniqueFile = UniqueResource<HANDLE, close_handle, invalid_handle_value>;
// WinINet root and request handles; declare the root first so the request closes first.
using UniqueInternet = UniqueResource<HINTERNET, close_internet_handle>;
// Fonts: delete only after no control uses them.
using UniqueFont = UniqueResource<HFONT, delete_font>;
// Modules loaded with LoadLibraryExW (never those only looked up with GetModuleHandleW).
using UniqueModule = UniqueResource<HMODULE, free_module>;
// CNG algorithm providers and hash objects; declare the provider first so the hash goes first.
using UniqueBcryptAlgorithm = UniqueResource<BCRYPT_ALG_HANDLE, close_algorithm>;
using UniqueBcryptHash = UniqueResource<BCRYPT_HASH_HANDLE, destroy_hash>;

}  // namespace vantile
