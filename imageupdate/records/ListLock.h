#pragma once
// The reader/writer lock of a record list: up to five readers at once, a writer alone. A
// mutex queues the writers; a semaphore of five units admits readers, and a writer collects all
// five. Both kernel objects are made on first use: under Wine each creation is a round trip to
// the server, and most lists (every node's child list, for one) are never locked.
#include "UniqueHandles.h"

#include <windows.h>

#include <atomic>
#include <cstdint>

namespace Tallis::ImageUpdate {

// Every call from any thread: the lock is what the list's readers and writers share.
class ListLock {
public:
    static constexpr LONG kReaderUnits = 5;

    ListLock() noexcept = default;
    ListLock(const ListLock&) = delete;
    ListLock& operator=(const ListLock&) = delete;

    // Waits without a time limit. If the kernel objects cannot be made, the waits fail at once
    // and the lock admits everyone.
    void AcquireRead() noexcept;
    void AcquireWrite() noexcept;
    // Gives back what the holder took: one unit after a read, everything after a write.
    void Release() noexcept;

    // Holds read access for its scope.
    class [[nodiscard]] ReadGuard {
    public:
        explicit ReadGuard(ListLock& lock) noexcept : m_lock(lock) { m_lock.AcquireRead(); }
        ~ReadGuard() { m_lock.Release(); }
        ReadGuard(const ReadGuard&) = delete;
        ReadGuard& operator=(const ReadGuard&) = delete;

    private:
        ListLock& m_lock;
    };

    // Holds write access for its scope.
    class [[nodiscard]] WriteGuard {
    public:
        explicit WriteGuard(ListLock& lock) noexcept : m_lock(lock) { m_lock.AcquireWrite(); }
        ~WriteGuard() { m_lock.Release(); }
        WriteGuard(const WriteGuard&) = delete;
        WriteGuard& operator=(const WriteGuard&) = delete;

    private:
        ListLock& m_lock;
    };

private:
    void EnsureObjects() noexcept;
    static BOOL CALLBACK CreateObjects(PINIT_ONCE once, PVOID self, PVOID* context) noexcept;

    INIT_ONCE m_once = INIT_ONCE_STATIC_INIT;
    std::atomic<bool> m_created{false};
    unique_handle m_mutex;
    unique_handle m_semaphore;
    // 1 while free or held by readers, 0 while a writer holds the lock.
    std::atomic<std::uint8_t> m_shared{1};
};

} // namespace Tallis::ImageUpdate
