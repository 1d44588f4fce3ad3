#pragma once
// What goes to the broker, as JSON text: a meter's newest round, an alarm
// raised or cleared, a meter going offline or back, a run of messages the
// outbox dropped, and what each value key means. Pure: events in, outbox
// messages out; topics are below the prefix, the sequence number is given
// when the message is stored.
#include <cstdint>
#include <ctime>
#include <string>

#include "history_store.h"
#include "round_sink.h"

namespace telemetry {

// Local time in ISO 8601 with the zone's offset: "2026-12-08T10:06:59+08:00",
// or "...Z" where the offset is nothing.
std::string iso_time(std::time_t time);

// {"round", "time", "values": {key: number or null}}: every numeric member
// at the meter's resolution.
hist::OutboxMessage state_message(std::uint32_t dataId, unsigned round, std::time_t time, const unsigned char* block);
// {"alarmId", "level", "signal", "state": "raised"|"cleared", "text", "time", "value"}.
hist::OutboxMessage alarm_message(const meter_host::AlarmChange& change);
// {"state": "online"|"offline", "time"}: counted, so that the gap shows.
hist::OutboxMessage availability_event(const meter_host::Availability& a);
// The bare word, retained: what a new subscriber learns first.
hist::OutboxMessage availability_retained(const meter_host::Availability& a);
// {"from", "reason", "to"}: a run of numbers the outbox dropped.
hist::OutboxMessage gap_message(const hist::DroppedRun& run, std::int64_t now);
// Retained: {key: {"label", "name", "unit"}} for every value key.
hist::OutboxMessage meta_message(std::uint32_t dataId, std::int64_t now);

}  // namespace telemetry
