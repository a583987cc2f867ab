#include "support/thread.h"

#include <exception>

Thread::Thread(Routine routine, void* argument, platform::System* system)
    : routine_(routine), argument_(argument), system_(system) {}

Thread::~Thread() { Stop(platform::kInfinite); }

void Thread::Start() {
  if (handle_ != nullptr) return;
  failed_ = false;
  handle_ = system_->CreateThread(&Thread::Procedure, this, 0);
}

bool Thread::SetPriority(int priority) {
  if (handle_ == nullptr) return false;
  return system_->SetThreadPriority(handle_, priority);
}

bool Thread::IsRunning() {
  if (handle_ == nullptr) return false;
  if (system_->WaitForThread(handle_, 0)) {
    Stop(platform::kInfinite);
    return false;
  }
  return true;
}

void Thread::Stop(uint32_t timeoutMs) {
  if (handle_ == nullptr) return;
  system_->WaitForThread(handle_, timeoutMs);
  exitCode_ = system_->GetExitCodeThread(handle_);
  if (system_->CloseThreadHandle(handle_)) handle_ = nullptr;
}

uint32_t Thread::Join() {
  Stop(platform::kInfinite);
  if (failed_) throw std::exception();
  return exitCode_;
}

uint32_t Thread::Procedure(void* self) {
  auto* thread = static_cast<Thread*>(self);
  uint32_t result = 0xFFFFFFFFu;
  if (thread->routine_ == nullptr) return result;
  try {
    // A hardware fault in the routine ends only this thread, too.
    // (On Windows such a thread ends inside, with failed_ already set.)
    result = thread->system_->RunGuarded(thread->routine_, thread->argument_, &thread->failed_);
  } catch (...) {
    // Any failure of the routine ends only this thread; the owner learns of it
    // at Join.
    thread->failed_ = true;
    result = 0xFFFFFFFFu;
  }
  return result;
}
