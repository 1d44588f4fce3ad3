// The cycle loop, driven without a process: a scripted line of meters and
// a sink that records every event in the order it came.
#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "command_runner.h"
#include "cycle_loop.h"

namespace {

using namespace meter_host;

struct Recorder : RoundSink {
  std::vector<std::string> events;
  bool snapshot = false;
  const char* sink_name() const override { return "recorder"; }
  void started(const std::vector<MeterInfo>& m) override { events.push_back("started " + std::to_string(m.size())); }
  void round_completed(const CompletedRound& r) override {
    events.push_back(at(r.meter, r.round) + " completed, " + std::to_string(r.block.size()) + " bytes" +
                     (snapshot ? ", " + *r.snapshot(nullptr) : "") +
                     (r.alarmsInForce.empty() ? "" : ", in force " + r.alarmsInForce.front().alarmId));
  }
  void round_abandoned(const AbandonedRound& r) override {
    events.push_back(at(r.meter, r.round) + (r.stopped ? " stopped" : " abandoned: " + r.why));
  }
  void alarm_changed(const AlarmChange& c) override {
    events.push_back("meter " + std::to_string(c.meter.dataId) + " alarm " + c.event.alarmId +
                     (c.event.raised ? " raised" : " cleared"));
  }
  void availability_changed(const Availability& a) override {
    events.push_back(a.meter.name + (a.online ? " back online" : " offline"));
  }
  void line_changed(const LineChange& c) override {
    events.push_back(at(c.meter, c.round) + (c.lost ? " line lost: " + c.why : " line back"));
  }
  void cycle_ended(const CycleEnd& c) override {
    events.push_back("cycle " + std::to_string(c.cycle) + ", " + std::to_string(c.online) + " of " +
                     std::to_string(c.meters) + " online");
  }
  void stopped(const RunEnd& e) override {
    events.push_back("stopped: " + std::to_string(e.completed) + " of " + std::to_string(e.turns) +
                     (e.interrupted ? ", interrupted" : ""));
  }
  static std::string at(const MeterInfo& m, unsigned round) {
    return "meter " + std::to_string(m.dataId) + " round " + std::to_string(round);
  }
};

// One scripted step: how a round ends, and what happens while it runs.
struct Step {
  RoundEnd end;
  std::string why;
  bool raiseAlarm = false;
  bool stop = false;
};

class ScriptedLine : public RoundSource {
public:
  ScriptedLine(std::size_t meters, SinkChain& sinks, Stopper& stopper)
      : meters_(meters), sinks_(sinks), stopper_(stopper) {}
  std::deque<Step> steps;
  std::deque<bool> lineBack;
  std::vector<std::size_t> called;

  std::size_t meters() const override { return meters_; }
  MeterInfo meter_info(std::size_t m) const override {
    return MeterInfo{m, static_cast<std::uint32_t>(m + 1), static_cast<unsigned>(m + 1),
                     "meter " + std::to_string(m + 1)};
  }
  RoundEnd run_round(unsigned, std::chrono::milliseconds, std::string* why, std::size_t m) override {
    called.push_back(m);
    if (steps.empty()) throw std::logic_error("a round the script does not have");
    const Step s = steps.front();
    steps.pop_front();
    // As the back end does: alarms are decided during the round's completion.
    inForce_ = inForce_ || s.raiseAlarm;
    if (s.raiseAlarm) sinks_.alarm_changed(AlarmChange{meter_info(m), 0, AlarmEvent{1, "a001", "A", 2, true, "1", ""}});
    if (s.stop) stopper_.request();
    *why = s.why;
    fresh_ = s.end == RoundEnd::completed;
    return s.end;
  }
  std::optional<bool> wait_line(Clock::time_point) override {
    const bool back = lineBack.front();
    lineBack.pop_front();
    return back;
  }
  bool take_block(std::size_t, std::vector<unsigned char>* block, std::time_t* time) override {
    if (!fresh_) return false;
    block->assign(915, 0);
    *time = 1700000000;
    return true;
  }
  std::optional<std::string> snapshot(std::string*, std::size_t) override { return std::string("{}"); }
  std::vector<AlarmEvent> alarms_in_force(std::size_t) override {
    if (!inForce_) return {};
    return {AlarmEvent{1, "a001", "A", 2, true, "1", ""}};
  }

private:
  std::size_t meters_;
  SinkChain& sinks_;
  Stopper& stopper_;
  bool fresh_ = false;
  bool inForce_ = false;
};

struct LoopRun {
  std::vector<std::string> log;
  SinkChain sinks{[this](const std::string& l) { log.push_back(l); }};
  std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
  Stopper stopper{[] {}};
  CycleSettings settings;
  // `first`: a sink ahead of the recorder.
  explicit LoopRun(std::shared_ptr<RoundSink> first = nullptr) {
    settings.interval = 0;
    settings.offlineRetry = Clock::duration::zero();
    sinks.add(std::move(first));
    sinks.add(recorder);
  }
  RunEnd run(ScriptedLine& line, unsigned cycles) {
    settings.rounds = cycles;
    return run_cycles(settings, line, stopper, sinks);
  }
};

using Events = std::vector<std::string>;

TEST(CycleLoop, ACompletedRoundCarriesItsBlockAfterTheAlarmsItDecided) {
  LoopRun r;
  r.recorder->snapshot = true;
  ScriptedLine line(1, r.sinks, r.stopper);
  line.steps = {{RoundEnd::completed, "", true}};
  const RunEnd end = r.run(line, 1);
  EXPECT_EQ(r.recorder->events, (Events{"started 1", "meter 1 alarm a001 raised",
                                        "meter 1 round 1 completed, 915 bytes, {}, in force a001",
                                        "cycle 1, 1 of 1 online", "stopped: 1 of 1"}));
  EXPECT_EQ(end.cycles, 1u);
  EXPECT_FALSE(end.interrupted);
}

TEST(CycleLoop, AnAbandonedRoundSaysWhyAndTheNextMeterStillTakesItsTurn) {
  LoopRun r;
  r.settings.roundTimeout = std::chrono::milliseconds(500);
  ScriptedLine line(2, r.sinks, r.stopper);
  line.steps = {{RoundEnd::timed_out, ""}, {RoundEnd::stalled, "exception 2 (illegal data address)"}};
  const RunEnd end = r.run(line, 1);
  EXPECT_EQ(r.recorder->events,
            (Events{"started 2", "meter 1 round 1 abandoned: not complete within 500 ms",
                    "meter 2 round 1 abandoned: exception 2 (illegal data address)", "cycle 1, 2 of 2 online",
                    "stopped: 0 of 2"}));
  EXPECT_EQ(end.turns, 2u);
  EXPECT_EQ(end.completed, 0u);
}

TEST(CycleLoop, AMeterGoesOfflineAfterThreeFailedRoundsAndComesBack) {
  LoopRun r;
  ScriptedLine line(1, r.sinks, r.stopper);
  line.steps = {{RoundEnd::timed_out, ""}, {RoundEnd::timed_out, ""}, {RoundEnd::timed_out, ""}, {RoundEnd::completed, ""}};
  r.run(line, 4);
  const Events& e = r.recorder->events;
  const Events tail(e.end() - 7, e.end());
  EXPECT_EQ(tail, (Events{"meter 1 round 3 abandoned: not complete within 1000 ms", "meter 1 offline",
                          "cycle 3, 0 of 1 online", "meter 1 round 4 completed, 915 bytes", "meter 1 back online",
                          "cycle 4, 1 of 1 online", "stopped: 1 of 4"}));
}

TEST(CycleLoop, ARoundBrokenByALostLineIsTakenAgainOnceItIsBack) {
  LoopRun r;
  ScriptedLine line(1, r.sinks, r.stopper);
  line.steps = {{RoundEnd::line_lost, "the port failed"}, {RoundEnd::completed, ""}};
  line.lineBack = {true};
  const RunEnd end = r.run(line, 1);
  EXPECT_EQ(r.recorder->events,
            (Events{"started 1", "meter 1 round 1 line lost: the port failed", "meter 1 round 1 line back",
                    "meter 1 round 1 completed, 915 bytes", "cycle 1, 1 of 1 online", "stopped: 1 of 1"}));
  EXPECT_EQ(end.turns, 1u);
}

TEST(CycleLoop, AStopWhileTheLineIsLostEndsTheRunWithoutCountingTheRound) {
  LoopRun r;
  ScriptedLine line(1, r.sinks, r.stopper);
  line.steps = {{RoundEnd::line_lost, "the port failed"}};
  line.lineBack = {false};
  const RunEnd end = r.run(line, 0);
  EXPECT_EQ(r.recorder->events, (Events{"started 1", "meter 1 round 1 line lost: the port failed",
                                        "meter 1 round 1 stopped", "stopped: 0 of 0, interrupted"}));
  EXPECT_TRUE(end.interrupted);
}

TEST(CycleLoop, AStopMidRoundLeavesTheOtherMetersUntried) {
  LoopRun r;
  ScriptedLine line(2, r.sinks, r.stopper);
  line.steps = {{RoundEnd::completed, ""}, {RoundEnd::completed, ""}, {RoundEnd::stopped, "", false, true}};
  const RunEnd end = r.run(line, 0);
  EXPECT_EQ(r.recorder->events,
            (Events{"started 2", "meter 1 round 1 completed, 915 bytes", "meter 2 round 1 completed, 915 bytes",
                    "cycle 1, 2 of 2 online", "meter 1 round 2 stopped", "stopped: 2 of 2, interrupted"}));
  EXPECT_EQ(line.called, (std::vector<std::size_t>{0, 1, 0}));
  EXPECT_EQ(end.cycles, 1u);
}

// Fails at every event.
struct Broken : RoundSink {
  const char* sink_name() const override { return "broken"; }
  void round_completed(const CompletedRound&) override { throw std::runtime_error("disk on fire"); }
};

TEST(CycleLoop, ASinkThatFailsIsNamedOnceAndTheOthersGoOn) {
  LoopRun r(std::make_shared<Broken>());
  ScriptedLine line(1, r.sinks, r.stopper);
  line.steps = {{RoundEnd::completed, ""}, {RoundEnd::completed, ""}};
  r.run(line, 2);
  EXPECT_EQ(r.log, (Events{"broken: disk on fire"}));
  EXPECT_EQ(r.recorder->events.size(), 6u);
}

}  // namespace
