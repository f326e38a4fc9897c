// A read-write lock on which a thread waiting to take it alone goes before threads that come
// later to share it: the sharers cannot keep it from the lone taker for long, however often they
// come back. std::shared_mutex promises no order, and glibc's lets sharers in first. It meets
// the standard's SharedMutex requirements, so std::shared_lock and std::lock_guard hold it.
#pragma once

#include <pthread.h>

namespace quarry {

class WriterFirstLock {
public:
  WriterFirstLock() {
    pthread_rwlockattr_t attributes;
    pthread_rwlockattr_init(&attributes);
    pthread_rwlockattr_setkind_np(&attributes, PTHREAD_RWLOCK_PREFER_WRITER_NONRECURSIVE_NP);
    pthread_rwlock_init(&m_lock, &attributes);
    pthread_rwlockattr_destroy(&attributes);
  }
  ~WriterFirstLock() { pthread_rwlock_destroy(&m_lock); }
  WriterFirstLock(const WriterFirstLock&) = delete;
  WriterFirstLock& operator=(const WriterFirstLock&) = delete;

  void lock() { pthread_rwlock_wrlock(&m_lock); }
  bool try_lock() { return pthread_rwlock_trywrlock(&m_lock) == 0; }
  void unlock() { pthread_rwlock_unlock(&m_lock); }
  void lock_shared() { pthread_rwlock_rdlock(&m_lock); }
  bool try_lock_shared() { return pthread_rwlock_tryrdlock(&m_lock) == 0; }
  void unlock_shared() { pthread_rwlock_unlock(&m_lock); }

private:
  pthread_rwlock_t m_lock;
};

}  // namespace quarry
