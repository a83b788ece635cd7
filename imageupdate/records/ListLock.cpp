#include "ListLock.h"

namespace Tallis::ImageUpdate {

BOOL CALLBACK ListLock::CreateObjects(PINIT_ONCE, PVOID self, PVOID*) noexcept
{
    auto* lock = static_cast<ListLock*>(self);
    lock->m_mutex.reset(CreateMutexW(nullptr, FALSE, nullptr));
    lock->m_semaphore.reset(CreateSemaphoreW(nullptr, kReaderUnits, kReaderUnits, nullptr));
    lock->m_created.store(true, std::memory_order_release);
    return TRUE;
}

void ListLock::EnsureObjects() noexcept
{
    if (!m_created.load(std::memory_order_acquire))
        InitOnceExecuteOnce(&m_once, &CreateObjects, this, nullptr);
}

void ListLock::AcquireRead() noexcept
{
    EnsureObjects();
    WaitForSingleObject(m_semaphore.get(), INFINITE);
    m_shared = 1;
}

void ListLock::AcquireWrite() noexcept
{
    EnsureObjects();
    // The mutex first: writers queue there, then the one in front collects every reader unit.
    WaitForSingleObject(m_mutex.get(), INFINITE);
    for (LONG unit = 0; unit < kReaderUnits; ++unit)
        WaitForSingleObject(m_semaphore.get(), INFINITE);
    m_shared = 0;
}

void ListLock::Release() noexcept
{
    EnsureObjects();
    if (m_shared == 1) {
        ReleaseSemaphore(m_semaphore.get(), 1, nullptr);
    } else {
        ReleaseSemaphore(m_semaphore.get(), kReaderUnits, nullptr);
        m_shared = 1;
        ReleaseMutex(m_mutex.get());
    }
}

} // namespace Tallis::ImageUpdate
