#include "runtime/ILoggerBagKeys.h"

namespace qelt::ILoggerBagKeys {

const StBagKeyNoDefault<VString, VString> message("message");
const StBagKeyWithDefault<EMessageLevel, VLong> level("level", EML_Info);
const StBagKeyNoDefault<VString, VString> source("source");
const StBagKeyNoDefault<VString, VString> task_name("task_name");
const StBagKeyNoDefault<VString, VString> file_name("file_name");
const StBagKeyNoDefault<VString, VString> stack_crawl("stack_crawl");
const StBagKeyNoDefault<int32_t, VLong> line_number("line_number");
const StBagKeyNoDefault<uint32_t, VLong> component_signature("component_signature");
const StBagKeyNoDefault<int32_t, VLong> elapsed_milliseconds("elapsed_milliseconds");
const StBagKeyNoDefault<int32_t, VLong> count_bytes_sent("count_bytes_sent");
const StBagKeyNoDefault<int32_t, VLong> count_bytes_received("count_bytes_received");
const StBagKeyNoDefault<VUUID, VUUID> base_context_uuid("base_context_uuid");
const StBagKeyNoDefault<uint64_t, VLong8> error_code("error_code");
const StBagKeyNoDefault<int32_t, VLong> count_bytes_asked("count_bytes_asked");
const StBagKeyNoDefault<int64_t, VLong8> socket("socket");
const StBagKeyNoDefault<bool, VBoolean> is_blocking("is_blocking");
const StBagKeyNoDefault<bool, VBoolean> is_ssl("is_ssl");
const StBagKeyNoDefault<bool, VBoolean> is_select_io("is_select_io");
const StBagKeyNoDefault<VString, VString> payload("payload");
const StBagKeyNoDefault<int32_t, VLong> ms_timeout("ms_timeout");
const StBagKeyNoDefault<int32_t, VLong> ms_spent("ms_spent");
const StBagKeyNoDefault<int32_t, VLong> dump_offset("dump_offset");
const StBagKeyNoDefault<VString, VString> dump_buffer("dump_buffer");
const StBagKeyNoDefault<VString, VString> local_addr("local_addr");
const StBagKeyNoDefault<VString, VString> peer_addr("peer_addr");
const StBagKeyNoDefault<int32_t, VLong> local_port("local_port");
const StBagKeyNoDefault<int32_t, VLong> peer_port("peer_port");
const StBagKeyNoDefault<int32_t, VLong> task_id("task_id");
const StBagKeyNoDefault<bool, VBoolean> exchange_id("exchange_id");
const StBagKeyNoDefault<int64_t, VLong8> debug_context("debug_context");
const StBagKeyNoDefault<VString, VString> jobId("jobId");
const StBagKeyNoDefault<int32_t, VLong> jobState("jobState");
const StBagKeyNoDefault<VString, VString> pipe("pipe");
const StBagKeyNoDefault<VString, VString> user_id("user_id");
const StBagKeyNoDefault<VString, VString> stream_id("stream_id");
const StBagKeyNoDefault<VString, VString> system_username("system_username");
const StBagKeyNoDefault<VString, VString> hostname("hostname");

}  // namespace qelt::ILoggerBagKeys
