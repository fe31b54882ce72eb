#pragma once
// Move-only owners for Win32 resources: every early return releases what it holds.
#include <windows.h>
#include <bcrypt.h>
#include <wininet.h>

#include <utility>

namespace vantile {

// Traits name the resource type, its "absent" value and how to release it.
template <class Traits>
class UniqueResource {
  public:
    using Type = typename Traits::Type;

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
    explicit operator bool() const noexcept { return value_ != Traits::invalid(); }
    Type release() noexcept { return std::exchange(value_, Traits::invalid()); }
    void reset(Type value = Traits::invalid()) noexcept {
        if (value_ != Traits::invalid()) Traits::close(value_);
        value_ = value;
    }
    // For a call that returns the resource through an out-parameter: releases what is held
    // and hands out the empty slot.
    Type* put() noexcept {
        reset();
        return &value_;
    }

  private:
    Type value_ = Traits::invalid();
};

struct HandleTraits {
    using Type = HANDLE;
    static Type invalid() { return nullptr; }
    static void close(Type handle) { CloseHandle(handle); }
};
struct FileTraits {
    using Type = HANDLE;
    static Type invalid() { return INVALID_HANDLE_VALUE; }
    static void close(Type handle) { CloseHandle(handle); }
};
struct InternetTraits {
    using Type = HINTERNET;
    static Type invalid() { return nullptr; }
    static void close(Type handle) { InternetCloseHandle(handle); }
};
struct FontTraits {
    using Type = HFONT;
    static Type invalid() { return nullptr; }
    static void close(Type font) { DeleteObject(font); }
};
struct ModuleTraits {
    using Type = HMODULE;
    static Type invalid() { return nullptr; }
    static void close(Type module) { FreeLibrary(module); }
};
struct BcryptAlgorithmTraits {
    using Type = BCRYPT_ALG_HANDLE;
    static Type invalid() { return nullptr; }
    static void close(Type algorithm) { BCryptCloseAlgorithmProvider(algorithm, 0); }
};
struct BcryptHashTraits {
    using Type = BCRYPT_HASH_HANDLE;
    static Type invalid() { return nullptr; }
    static void close(Type hash) { BCryptDestroyHash(hash); }
};

// Process, thread, mutex and event handles (null when absent).
using UniqueHandle = UniqueResource<HandleTraits>;
// File handles from CreateFileW (INVALID_HANDLE_VALUE when absent).
using UniqueFile = UniqueResource<FileTraits>;
// WinINet root and request handles; declare the root first so the request closes first.
using UniqueInternet = UniqueResource<InternetTraits>;
// Fonts: delete only after no control uses them.
using UniqueFont = UniqueResource<FontTraits>;
// Modules loaded with LoadLibraryExW (never those only looked up with GetModuleHandleW).
using UniqueModule = UniqueResource<ModuleTraits>;
// CNG algorithm providers and hash objects; declare the provider first so the hash goes first.
using UniqueBcryptAlgorithm = UniqueResource<BcryptAlgorithmTraits>;
using UniqueBcryptHash = UniqueResource<BcryptHashTraits>;

}  // namespace vantile
