// The names and value types of the attributes of log records. A record is a
// value bag; each key below names one attribute, fixes the type its users
// read and write (first) and the value class stored in the bag (second).
// "level" is left out of a record when it is the default, info.
#pragma once

#include <cstdint>

#include "kernel/VBoolean.h"
#include "kernel/VLong.h"
#include "kernel/VLong8.h"
#include "kernel/VString.h"
#include "runtime/ILogger.h"
#include "values/VUUID.h"
#include "values/VValueBag.h"

namespace qelt::ILoggerBagKeys {

extern const StBagKeyNoDefault<VString, VString> message;
extern const StBagKeyWithDefault<EMessageLevel, VLong> level;
extern const StBagKeyNoDefault<VString, VString> source;
extern const StBagKeyNoDefault<VString, VString> task_name;
extern const StBagKeyNoDefault<VString, VString> file_name;
extern const StBagKeyNoDefault<VString, VString> stack_crawl;
extern const StBagKeyNoDefault<int32_t, VLong> line_number;
extern const StBagKeyNoDefault<uint32_t, VLong> component_signature;
extern const StBagKeyNoDefault<int32_t, VLong> elapsed_milliseconds;
extern const StBagKeyNoDefault<int32_t, VLong> count_bytes_sent;
extern const StBagKeyNoDefault<int32_t, VLong> count_bytes_received;
extern const StBagKeyNoDefault<VUUID, VUUID> base_context_uuid;
extern const StBagKeyNoDefault<uint64_t, VLong8> error_code;
extern const StBagKeyNoDefault<int32_t, VLong> count_bytes_asked;
extern const StBagKeyNoDefault<int64_t, VLong8> socket;
extern const StBagKeyNoDefault<bool, VBoolean> is_blocking;
extern const StBagKeyNoDefault<bool, VBoolean> is_ssl;
extern const StBagKeyNoDefault<bool, VBoolean> is_select_io;
// A C text in the vocabulary; the bag has no C-text value, so it is kept as
// a string.
extern const StBagKeyNoDefault<VString, VString> payload;
extern const StBagKeyNoDefault<int32_t, VLong> ms_timeout;
extern const StBagKeyNoDefault<int32_t, VLong> ms_spent;
extern const StBagKeyNoDefault<int32_t, VLong> dump_offset;
extern const StBagKeyNoDefault<VString, VString> dump_buffer;
extern const StBagKeyNoDefault<VString, VString> local_addr;
extern const StBagKeyNoDefault<VString, VString> peer_addr;
extern const StBagKeyNoDefault<int32_t, VLong> local_port;
extern const StBagKeyNoDefault<int32_t, VLong> peer_port;
extern const StBagKeyNoDefault<int32_t, VLong> task_id;
extern const StBagKeyNoDefault<bool, VBoolean> exchange_id;
extern const StBagKeyNoDefault<int64_t, VLong8> debug_context;
extern const StBagKeyNoDefault<VString, VString> jobId;
extern const StBagKeyNoDefault<int32_t, VLong> jobState;
extern const StBagKeyNoDefault<VString, VString> pipe;
extern const StBagKeyNoDefault<VString, VString> user_id;
extern const StBagKeyNoDefault<VString, VString> stream_id;
extern const StBagKeyNoDefault<VString, VString> system_username;
extern const StBagKeyNoDefault<VString, VString> hostname;

}  // namespace qelt::ILoggerBagKeys
