// The echo client's two client-data areas, beside the bridge's four: it is
// asked through one (records of HostRequest's size) and answers through the
// other (records of VarData's size), so that the echo path carries the same
// bytes as the bridge's ForceUpdate path. Both sides map the names to these ids.
#pragma once

#include <cstdint>

#include "lvar/records.h"

namespace bench {

constexpr char kEchoRequestAreaName[] = "TVO_BENCH_ECHO_REQUEST_ID";
constexpr char kEchoRequestDefinitionName[] = "TVO_BENCH_ECHO_REQUEST_DATA";
constexpr char kEchoReplyAreaName[] = "TVO_BENCH_ECHO_REPLY_ID";
constexpr char kEchoReplyDefinitionName[] = "TVO_BENCH_ECHO_REPLY_DATA";
constexpr uint32_t kEchoRequestAreaId = 0x42450001;
constexpr uint32_t kEchoRequestDefinitionId = 0x42450002;
constexpr uint32_t kEchoReplyAreaId = 0x42450003;
constexpr uint32_t kEchoReplyDefinitionId = 0x42450004;

constexpr records::Area kEchoRequestArea = {kEchoRequestAreaName, kEchoRequestAreaId, kEchoRequestDefinitionName,
                                            kEchoRequestDefinitionId,
                                            static_cast<uint32_t>(records::kHostRequestSize)};
constexpr records::Area kEchoReplyArea = {kEchoReplyAreaName, kEchoReplyAreaId, kEchoReplyDefinitionName,
                                          kEchoReplyDefinitionId, static_cast<uint32_t>(records::kVarDataSize)};

constexpr char kEchoClientName[] = "TVO.Bench.Echo";
constexpr char kApplicationName[] = "TVO.Bench.Application";

}  // namespace bench
