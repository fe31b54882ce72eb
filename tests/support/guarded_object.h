#pragma once
// What a call that was given up on may still touch: an object alone on its own pages, which the
// test arms once the call has returned so that any later access is recorded (and then allowed,
// so the process lives on to say so); and the threads that a call left running, to wait for.
#include <windows.h>
#include <tlhelp32.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <new>
#include <set>
#include <utility>
#include <vector>

#include "windows/unique_handle.h"

namespace vantile {

template <class T>
class GuardedObject {
  public:
    template <class... Arguments>
    explicit GuardedObject(Arguments&&... arguments) {
        memory_ = VirtualAlloc(nullptr, sizeof(T), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
        if (memory_ == nullptr) throw std::bad_alloc();
        object_ = new (memory_) T(std::forward<Arguments>(arguments)...);
        armed_pages_.store(this, std::memory_order_release);
        handler_ = AddVectoredExceptionHandler(1, record_touch);
    }
    ~GuardedObject() {
        disarm();
        RemoveVectoredExceptionHandler(handler_);
        armed_pages_.store(nullptr, std::memory_order_release);
        object_->~T();
        VirtualFree(memory_, 0, MEM_RELEASE);
    }
    GuardedObject(const GuardedObject&) = delete;
    GuardedObject& operator=(const GuardedObject&) = delete;

    const T& get() const { return *object_; }

    // From now on, the first access to the object's pages is recorded.
    bool arm() {
        DWORD previous = 0;
        return VirtualProtect(memory_, sizeof(T), PAGE_READWRITE | PAGE_GUARD, &previous);
    }
    bool touched() const { return touched_.load(); }

  private:
    void disarm() {
        DWORD previous = 0;
        VirtualProtect(memory_, sizeof(T), PAGE_READWRITE, &previous);
    }

    static LONG CALLBACK record_touch(EXCEPTION_POINTERS* exception) {
        const EXCEPTION_RECORD& record = *exception->ExceptionRecord;
        GuardedObject* guarded = armed_pages_.load(std::memory_order_acquire);
        if (guarded == nullptr || record.ExceptionCode != STATUS_GUARD_PAGE_VIOLATION ||
            record.NumberParameters < 2)
            return EXCEPTION_CONTINUE_SEARCH;
        const auto address = static_cast<std::uintptr_t>(record.ExceptionInformation[1]);
        const auto start = reinterpret_cast<std::uintptr_t>(guarded->memory_);
        if (address < start || address >= start + sizeof(T)) return EXCEPTION_CONTINUE_SEARCH;
        // The system cleared the guard as it raised this; the access is retried and succeeds.
        guarded->touched_.store(true);
        return EXCEPTION_CONTINUE_EXECUTION;
    }

    static inline std::atomic<GuardedObject*> armed_pages_{nullptr};
    void* memory_ = nullptr;
    T* object_ = nullptr;
    void* handler_ = nullptr;
    std::atomic<bool> touched_{false};
};

// The ids of this process's threads now.
inline std::set<DWORD> threads_of_this_process() {
    std::set<DWORD> ids;
    // INVALID_HANDLE_VALUE when it fails, like a file.
    UniqueFile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    if (!snapshot) return ids;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot.get(), &entry); more;
         more = Thread32Next(snapshot.get(), &entry)) {
        if (entry.th32OwnerProcessID == GetCurrentProcessId()) ids.insert(entry.th32ThreadID);
    }
    return ids;
}

// Waits for every thread of this process that is not among `before` to end: true once all
// have, false if one still runs after `limit`.
inline bool wait_for_threads_started_since(const std::set<DWORD>& before,
                                           std::chrono::milliseconds limit) {
    std::vector<UniqueHandle> started;
    for (const DWORD id : threads_of_this_process()) {
        if (before.contains(id)) continue;
        if (HANDLE thread = OpenThread(SYNCHRONIZE, FALSE, id)) started.emplace_back(thread);
    }
    for (const UniqueHandle& thread : started) {
        if (WaitForSingleObject(thread.get(), static_cast<DWORD>(limit.count())) != WAIT_OBJECT_0)
            return false;
    }
    return true;
}

}  // namespace vantile
