// Text operations on paths and commands read from the registry: trimming,
// one replacement ignoring case, and the shape of a path. Every comparison
// that ignores case goes through the case-folding table (case_folding.h).
//
// Texts stand for fixed working buffers: a capacity is the size of such a
// buffer in characters with its terminator, so a text kept in it holds at
// most capacity - 1 characters. A capacity of 0 sets no limit.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Kinds of path that ClassifyPath tells apart.
constexpr int kPathKindNone = 0;
constexpr int kPathKindCurrentFolder = 1;   // ".\x"
constexpr int kPathKindParentFolder = 2;    // "..\x"
constexpr int kPathKindUnc = 3;             // "\\server"
constexpr int kPathKindLongPrefix = 4;      // "\\?\x"
constexpr int kPathKindDrive = 8;           // "C:\x"
constexpr int kPathKindDriveRelative = 16;  // "C:x", also "C:\" with nothing usable after it
constexpr int kPathKindDriveQuestion = 32;  // "C?\x", a drive whose colon became "?"

// Cuts text to what a buffer of capacity characters holds.
void FitToCapacity(std::u16string* text, size_t capacity);

// Removes blanks, BEL, TAB, LF, CR and double quotes from both ends; then, if
// more than one character is left and the text ends with a backslash and the
// digit zero, removes those two.
void TrimPathText(std::u16string* text);
// The same, with extra also removed from both ends.
void TrimPathTextAnd(std::u16string* text, char16_t extra);

// Replaces the first (fromEnd: the last) occurrence of find, ignoring case, by
// replacement, keeping what fits into capacity. False, with text unchanged,
// when text or find is empty or find does not occur.
bool ReplaceOnce(std::u16string* text, std::u16string_view find, std::u16string_view replacement,
                 bool fromEnd, size_t capacity);

// The kind of path text begins with (one leading double quote is skipped).
// A path character is one at or above U+0020 whose low byte is not 0x20; a
// letter is what the case-folding table calls one.
int ClassifyPath(std::u16string_view text);
// True for the kinds 1 to 16: texts the file system takes as a path, not as
// a bare name for the search path.
bool IsPathLike(std::u16string_view text);
