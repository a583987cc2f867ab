// The engine's text log and the writer of other single-byte text files (the
// restore batch). Lines collect in a memory buffer and reach the file when
// the buffer fills, at Flush and at Close, so that a scan of many thousand
// entries costs no disk access per line.
//
// Text is single-byte "ANSI" text: the system's ANSI code page on Windows,
// UTF-8 on POSIX. Formats follow printf, with "%ls" taking a const char16_t*
// (see log_format.h).
//
// Thread-safety: every operation takes the object's lock, so the worker
// thread and the module's thread may log at the same time. An operation that
// cannot get the lock within 2000 tries 1 ms apart is skipped.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/system.h"

class MyLogfile {
 public:
  // Flag bits of the constructor. The low three bits are the share mode the
  // file is opened with (0 for the engine log and the batch file).
  static constexpr uint32_t kShareModeMask = 0x7;
  // The file is closed again after each buffer write, so that other programs
  // can read it between writes.
  static constexpr uint32_t kCloseAfterWrite = 0x1000000;

  static constexpr int32_t kDefaultLevel = 12;
  // Prefix styles: 4 date, time and level; 3 date and time; 2 time and level;
  // 1 time; 0 none.
  static constexpr int kDefaultPrefixStyle = 4;
  // A formatted line is cut at this many bytes.
  static constexpr size_t kFormatLimit = 0x200000;

  // Opens (creating it when missing, keeping its content) the file at path,
  // given in the ANSI code page; with kCloseAfterWrite closes it again. Use
  // EverOpened to learn whether that worked. sizeLimit is recorded only.
  MyLogfile(const char* path, uint32_t bufferSize, uint32_t flags, uint32_t sizeLimit,
            platform::FileSystem* fs = platform::FileSystem::Default(),
            platform::System* system = platform::System::Default());
  // Close; clears the process-wide log pointer when it points here.
  virtual ~MyLogfile();

  MyLogfile(const MyLogfile&) = delete;
  MyLogfile& operator=(const MyLogfile&) = delete;

  // Writes one line: the prefix of the prefix style in local time, the
  // formatted text and CR LF. Returns the bytes written to the buffer, 0 when
  // level is above Level() or the lock could not be had. A format that
  // cannot be served leaves the format itself as the line's text
  // ("MyLogfile::FormatStringError1" for an empty one).
  int Printf(int32_t level, const char* format, ...);
  int VPrintf(int32_t level, const char* format, va_list args);
  // Formats and writes the text as it is: no prefix, no line end. The fault
  // text is "MyLogfile::FormatStringError2".
  int PrintfRaw(const char* format, ...);
  // Writes a raw text; nothing for an empty one. Returns the bytes taken.
  int WriteText(const char* text);

  // Writes the buffer out; with kCloseAfterWrite closes the file. Returns the
  // bytes written.
  uint32_t Flush();
  // Writes the buffer out and closes the file.
  void Close();
  // When the file exists: closes it, overwrites its whole length with zero
  // bytes and deletes it. True when a file was wiped.
  bool Wipe();
  // Closes the file when open and opens it again. True when it is open.
  bool Reopen();

  int32_t Level() const { return level_.load(std::memory_order_relaxed); }
  void SetLevel(int32_t level) { level_.store(level, std::memory_order_relaxed); }
  int prefixStyle() const { return prefixStyle_.load(std::memory_order_relaxed); }
  void SetPrefixStyle(int style) { prefixStyle_.store(style, std::memory_order_relaxed); }
  void SetFlushEachLine(bool on);

  // The file's size as last seen plus the buffered bytes; -1 when the file
  // is larger than 4 GiB.
  int64_t SizeWithBuffer();
  bool IsOpen();
  bool EverOpened();
  const std::u16string& path() const { return path_; }
  uint32_t sizeLimit() const { return sizeLimit_; }

 private:
  bool Lock();
  bool OpenFile();
  void CloseFile();
  uint32_t WriteBufferOut();
  int WriteTextLocked(const char* text, size_t length);
  int FormatAndWrite(bool withPrefix, int32_t level, const char* format, va_list args);
  std::string Prefix(int32_t level);

  platform::FileSystem* fs_;
  platform::System* system_;
  std::u16string path_;
  std::string ansiPath_;
  uint32_t shareMode_;
  bool closeAfterWrite_;
  uint32_t sizeLimit_;
  std::atomic<int32_t> level_{kDefaultLevel};
  std::atomic<int> prefixStyle_{kDefaultPrefixStyle};
  bool flushEachLine_ = false;

  std::recursive_mutex lock_;
  platform::FileHandle file_ = nullptr;
  bool open_ = false;
  bool everOpened_ = false;
  std::vector<char> buffer_;
  size_t fill_ = 0;
  int64_t fileSize_ = 0;       // -1 above 4 GiB
  uint32_t lastWriteDay_ = 0;  // days since 1601 of the file's last write
};

// The engine's log, one per process; null outside the engine's life.
MyLogfile* EngineLog();
void SetEngineLog(MyLogfile* log);
// Printf on the engine's log; 0 when there is none.
int EngineLogPrintf(int32_t level, const char* format, ...);
