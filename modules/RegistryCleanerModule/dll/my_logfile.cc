#include "modules/RegistryCleanerModule/dll/my_logfile.h"

#include <cstdio>
#include <cstring>
#include <iterator>

#include "modules/RegistryCleanerModule/dll/log_format.h"
#include "platform/system_text.h"

namespace {

constexpr int kLockTries = 2000;
constexpr int kOpenAttempts = 200;
constexpr uint32_t kOpenPauseMs = 10;
constexpr uint64_t kFileTimeUnitsPerDay = 864000000000ull;

std::atomic<MyLogfile*> g_engineLog{nullptr};

}  // namespace

MyLogfile::MyLogfile(const char* path, uint32_t bufferSize, uint32_t flags, uint32_t sizeLimit,
                     platform::FileSystem* fs, platform::System* system)
    : fs_(fs),
      system_(system),
      ansiPath_(path == nullptr ? "" : path),
      shareMode_(flags & kShareModeMask),
      closeAfterWrite_((flags & kCloseAfterWrite) != 0),
      sizeLimit_(sizeLimit),
      buffer_(bufferSize < 2 ? 2 : bufferSize) {
  path_ = platform::AnsiToU16(ansiPath_);
  std::lock_guard<std::recursive_mutex> guard(lock_);
  OpenFile();
  if (closeAfterWrite_ && open_) CloseFile();
}

MyLogfile::~MyLogfile() {
  Close();
  MyLogfile* self = this;
  g_engineLog.compare_exchange_strong(self, nullptr);
  std::lock_guard<std::recursive_mutex> guard(lock_);
  if (open_) CloseFile();
}

bool MyLogfile::Lock() {
  for (int attempt = 0; attempt < kLockTries; ++attempt) {
    if (lock_.try_lock()) return true;
    system_->Sleep(1);
  }
  return false;
}

bool MyLogfile::OpenFile() {
  if (open_) return true;
  for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
    if (attempt > 0) system_->Sleep(kOpenPauseMs);
    file_ = fs_->CreateFile(path_, platform::kGenericWrite, shareMode_, platform::kOpenAlways);
    if (file_ != nullptr) break;
  }
  if (file_ == nullptr) return false;
  const int64_t end = fs_->SetFilePointer(file_, 0, platform::kFileEnd);
  fileSize_ = (end < 0 || end > 0xFFFFFFFFll) ? -1 : end;
  uint64_t lastWrite = 0;
  if (fs_->GetFileTime(file_, &lastWrite))
    lastWriteDay_ = static_cast<uint32_t>(lastWrite / kFileTimeUnitsPerDay);
  open_ = true;
  everOpened_ = true;
  return true;
}

void MyLogfile::CloseFile() {
  if (file_ != nullptr) fs_->CloseHandle(file_);
  file_ = nullptr;
  open_ = false;
}

uint32_t MyLogfile::WriteBufferOut() {
  if (!open_ && !OpenFile()) return 0;
  if (shareMode_ & platform::kFileShareWrite) {
    // Another writer may have appended since our last write.
    fs_->FlushFileBuffers(file_);
    fs_->SetFilePointer(file_, 0, platform::kFileEnd);
  }
  uint32_t written = 0;
  if (fill_ > 0) {
    fs_->WriteFile(file_, buffer_.data(), static_cast<uint32_t>(fill_), &written);
    if (written < fill_) std::memmove(buffer_.data(), buffer_.data() + written, fill_ - written);
    fill_ -= written;
    fs_->FlushFileBuffers(file_);
  }
  uint64_t size = 0;
  if (fs_->GetFileSize(file_, &size))
    fileSize_ = size > 0xFFFFFFFFull ? -1 : static_cast<int64_t>(size);
  return written;
}

int MyLogfile::WriteTextLocked(const char* text, size_t length) {
  if (length == 0) return 0;
  int taken = 0;
  if (fill_ + length + 1 > buffer_.size()) WriteBufferOut();
  if (fill_ + length + 1 <= buffer_.size()) {
    std::memcpy(buffer_.data() + fill_, text, length);
    fill_ += length;
    taken = static_cast<int>(length);
  } else if (open_) {
    // Larger than the whole buffer: straight to the file.
    uint32_t written = 0;
    fs_->WriteFile(file_, text, static_cast<uint32_t>(length), &written);
    fs_->FlushFileBuffers(file_);
    if (fileSize_ >= 0) fileSize_ += written;
    taken = static_cast<int>(written);
  }
  if (flushEachLine_) WriteBufferOut();
  if (closeAfterWrite_ && open_) CloseFile();
  return taken;
}

int MyLogfile::WriteText(const char* text) {
  if (text == nullptr || *text == 0) return 0;
  if (!Lock()) return 0;
  const int taken = WriteTextLocked(text, std::strlen(text));
  lock_.unlock();
  return taken;
}

namespace {

// value as "%0<width>d" writes it: at least width characters, zeros after
// the sign.
void AppendNumber(std::string* out, int value, int width) {
  char digits[12];
  int count = 0;
  unsigned rest = static_cast<unsigned>(value);
  if (value < 0) {
    out->push_back('-');
    rest = 0u - rest;
    --width;
  }
  do {
    digits[count++] = static_cast<char>('0' + rest % 10);
    rest /= 10;
  } while (rest != 0);
  for (int i = count; i < width; ++i) out->push_back('0');
  while (count > 0) out->push_back(digits[--count]);
}

}  // namespace

std::string MyLogfile::Prefix(int32_t level) {
  const int style = prefixStyle();
  if (style < 1 || style > 4) return std::string();
  const platform::LocalTime t = system_->GetLocalTime();
  // Every line has one, so it is written by hand: a printf of it cost more
  // than the rest of the line.
  // "YYYY-MM-DD " (styles 3 and 4), "hh:mm:ss,mmm", " lv:NN" (styles 2 and 4), " -> ".
  struct Field {
    int value, width;
    char after;
  };
  const Field fields[] = {{t.year, 4, '-'},      {t.month, 2, '-'},  {t.day, 2, ' '},
                          {t.hour, 2, ':'},      {t.minute, 2, ':'}, {t.second, 2, ','},
                          {t.milliseconds, 3, 0}};
  std::string prefix;
  prefix.reserve(256);  // the room of the usual line it begins
  for (size_t i = style >= 3 ? 0 : 3; i < std::size(fields); ++i) {
    AppendNumber(&prefix, fields[i].value, fields[i].width);
    if (fields[i].after != 0) prefix.push_back(fields[i].after);
  }
  if (style % 2 == 0) {
    prefix += " lv:";
    AppendNumber(&prefix, level, 2);
  }
  prefix += " -> ";
  return prefix;
}

int MyLogfile::FormatAndWrite(bool withPrefix, int32_t level, const char* format, va_list args) {
  std::string line = withPrefix ? Prefix(level) : std::string();
  const size_t prefixLength = line.size();
  const size_t lineEnd = withPrefix ? 2 : 0;
  // Room for the terminator the line keeps in its format buffer.
  const size_t limit = kFormatLimit - 1 - lineEnd;
  if (!FormatLogText(format, args, limit, &line)) {
    line.resize(prefixLength);
    if (format != nullptr && *format != 0) {
      line.append(format, std::min(std::strlen(format), limit - prefixLength));
    } else {
      line += withPrefix ? "MyLogfile::FormatStringError1" : "MyLogfile::FormatStringError2";
    }
  }
  if (withPrefix) line += "\r\n";
  return WriteTextLocked(line.data(), line.size());
}

int MyLogfile::Printf(int32_t level, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int written = VPrintf(level, format, args);
  va_end(args);
  return written;
}

int MyLogfile::VPrintf(int32_t level, const char* format, va_list args) {
  if (level > Level()) return 0;
  if (!Lock()) return 0;
  const int written = FormatAndWrite(true, level, format, args);
  lock_.unlock();
  return written;
}

int MyLogfile::PrintfRaw(const char* format, ...) {
  if (!Lock()) return 0;
  va_list args;
  va_start(args, format);
  const int written = FormatAndWrite(false, 0, format, args);
  va_end(args);
  lock_.unlock();
  return written;
}

uint32_t MyLogfile::Flush() {
  if (!Lock()) return 0;
  const uint32_t written = fill_ > 0 ? WriteBufferOut() : 0;
  if (closeAfterWrite_ && open_) CloseFile();
  lock_.unlock();
  return written;
}

void MyLogfile::Close() {
  if (!Lock()) return;
  if (fill_ > 0) WriteBufferOut();
  if (open_) CloseFile();
  lock_.unlock();
}

bool MyLogfile::Wipe() {
  if (!Lock()) return false;
  if (open_) CloseFile();
  bool wiped = false;
  platform::FileHandle file =
      fs_->CreateFile(path_, platform::kGenericWrite, 0, platform::kOpenExisting);
  if (file != nullptr) {
    uint64_t size = 0;
    fs_->GetFileSize(file, &size);
    static const char kZeros[65536] = {};
    while (size > 0) {
      const uint32_t chunk = size > sizeof(kZeros) ? sizeof(kZeros) : static_cast<uint32_t>(size);
      uint32_t written = 0;
      if (!fs_->WriteFile(file, kZeros, chunk, &written) || written == 0) break;
      size -= written;
    }
    fs_->FlushFileBuffers(file);
    fs_->CloseHandle(file);
    wiped = fs_->DeleteFile(path_);
    fileSize_ = 0;
  }
  lock_.unlock();
  return wiped;
}

bool MyLogfile::Reopen() {
  if (!Lock()) return false;
  if (open_) CloseFile();
  const bool opened = OpenFile();
  lock_.unlock();
  return opened;
}

void MyLogfile::SetFlushEachLine(bool on) {
  if (!Lock()) return;
  flushEachLine_ = on;
  lock_.unlock();
}

int64_t MyLogfile::SizeWithBuffer() {
  if (!Lock()) return fileSize_;
  const int64_t size = fileSize_ < 0 ? -1 : fileSize_ + static_cast<int64_t>(fill_);
  lock_.unlock();
  return size;
}

bool MyLogfile::IsOpen() {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  return open_;
}

bool MyLogfile::EverOpened() {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  return everOpened_;
}

MyLogfile* EngineLog() { return g_engineLog.load(std::memory_order_acquire); }

void SetEngineLog(MyLogfile* log) { g_engineLog.store(log, std::memory_order_release); }

int EngineLogPrintf(int32_t level, const char* format, ...) {
  MyLogfile* log = EngineLog();
  if (log == nullptr) return 0;
  va_list args;
  va_start(args, format);
  const int written = log->VPrintf(level, format, args);
  va_end(args);
  return written;
}
