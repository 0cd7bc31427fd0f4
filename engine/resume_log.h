// The resume log (".dat" beside a single-file target: one record per
// connection) and the 48-byte size header (".vx$" beside a list file's data).
// Both are little-endian without padding. Both come from disk and may be
// damaged: anything that does not describe a sane plan reads as absent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/down_task.h"

// Largest packed record: 56 fixed bytes and the four strings at their limits.
inline constexpr int32_t kMaxLogRecord = 56 + kUrlCapacity * 2 + kCredentialCapacity * 2;
// More records than the driver can wait for at once are never a real log.
inline constexpr int32_t kMaxLogRecords = 64;
inline constexpr int kSizeSlots = 6;

// Packs the record into pBuffer (at least kMaxLogRecord bytes) and returns
// its length.
int32_t PackThreadInfo(char* pBuffer, const DownThreadInfo& info);

// Makes a new record (defaults, a fresh nSerial) and fills its stored fields
// from the first nAvailable bytes. Returns the bytes consumed, or -1 when the
// bytes do not hold one sound record (cut short, a string without its end or
// longer than its field, a segment or chunk size out of range); *ppInfo is
// then empty.
int32_t UnpackThreadInfo(const char* pBytes, size_t nAvailable,
                         std::unique_ptr<DownThreadInfo>* ppInfo);

// Writes a new log for the records at target + ".dat", setting every record's
// nLogOffset, hLog and log set. The handle stays open in the records (the
// driver closes it) even when writing fails. False when the file cannot be
// made or written.
bool CreateLog(const char* szTarget, DownThreadInfo* const* ppRecords, int32_t n);

// Reads the log at target + ".dat" into new records (hLog set; the driver
// completes the rest). False, with no records and the file closed, when the
// log is missing, unreadable or damaged in any way.
bool LoadLog(const char* szTarget, std::vector<std::unique_ptr<DownThreadInfo>>* pRecords);

// Rewrites the record in its log (nothing when it has none). A record whose
// packed length changed since the log was written (a redirect or a re-pointed
// connection changed its strings) makes the whole log be written anew.
bool WriteLogRecord(DownThreadInfo& info);

// Changes a record's server strings where a concurrent log rewrite cannot
// see them half-done.
void SetRecordServer(DownThreadInfo& info, const char* szHost, int32_t nPort,
                     const char* szRemotePath, const char* szUser, const char* szPassword);

// True when the records' segments tile 0..llSize exactly, in any order, so a
// log can never claim a file complete with a hole in it or aim a write
// outside the file.
bool LogCoversFile(const std::vector<std::unique_ptr<DownThreadInfo>>& records, int64_t llSize);

// Reads slot 0..5 of the size header; a slot beyond a shorter file reads 0.
// False for an invalid handle, a slot above 5 or a failed read.
bool GetDownloadSize(platform::FileHandle hSizeFile, uint32_t nSlot, int64_t* pValue);

// Sets one slot of the size header, as one indivisible read-change-write.
void SetDownloadSize(platform::FileHandle hSizeFile, uint32_t nSlot, int64_t llValue);
