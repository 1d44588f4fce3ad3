#include "page.h"

#include <cstddef>

namespace web {

// Kept small and plain: the controller serves it to a phone on site.
namespace {

const char* const kPageHtml = R"PAGE(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>KVRM4410T site</title>
<style>
body { font-family: system-ui, sans-serif; margin: 0; background: #f4f5f7; color: #1d2330; }
header { background: #1d2330; color: #fff; padding: .6em 1em; display: flex; justify-content: space-between; flex-wrap: wrap; }
#conn { font-size: .9em; }
#conn.lost { color: #ffb4a8; font-weight: bold; }
main { padding: .5em; display: grid; grid-template-columns: repeat(auto-fit, minmax(20em, 1fr)); gap: .6em; }
section.meter { background: #fff; border-radius: 6px; padding: .6em .8em; box-shadow: 0 1px 2px #0002; }
h2 { font-size: 1.1em; margin: 0 0 .3em; }
.state { font-weight: bold; }
.online { color: #1a7f37; }
.offline { color: #c62828; }
.meta, .line { font-size: .85em; color: #555; }
.alarm { color: #c62828; font-size: .9em; }
table { width: 100%; border-collapse: collapse; font-size: .9em; margin-top: .3em; }
th { text-align: left; font-size: .85em; color: #333; padding-top: .5em; }
td { padding: .05em .2em; border-bottom: 1px solid #eee; }
td.v { text-align: right; font-variant-numeric: tabular-nums; white-space: nowrap; }
td.m { color: #777; font-size: .8em; }
</style>
</head>
<body>
<header><span id="site">KVRM4410T site</span><span id="conn">connecting…</span></header>
<main id="meters"></main>
<script type="application/json" id="model">/*MODEL*/</script>
<script>
"use strict";
function el(tag, cls, text) {
  const e = document.createElement(tag);
  if (cls) e.className = cls;
  if (text !== undefined) e.textContent = text;
  return e;
}
function meterView(m) {
  const s = el("section", "meter");
  s.id = "meter-" + m.dataId;
  s.appendChild(el("h2", null, m.name));
  const st = el("div", "meta");
  const state = el("span", "state " + m.state, m.state);
  state.id = "state-" + m.dataId;
  st.appendChild(state);
  if (m.offlineSince) st.appendChild(document.createTextNode(" since " + m.offlineSince));
  if (m.round) st.appendChild(document.createTextNode(" · round " + m.round + " · " + m.time + " · " + m.tookMs + " ms"));
  s.appendChild(st);
  for (const a of m.alarms) s.appendChild(el("div", "alarm", "alarm " + a.alarmId + ": " + a.signal + " = " + a.value + (a.text ? " (" + a.text + ")" : "")));
  const l = m.line;
  s.appendChild(el("div", "line", "rounds " + l.roundsCompleted + " completed, " + l.roundsAbandoned + " abandoned; requests " + l.requests + ", time-outs " + l.timeouts + ", CRC errors " + l.crcErrors + ", exceptions " + l.exceptions));
  const t = el("table");
  for (const g of m.groups) {
    const h = el("tr");
    const th = el("th", null, g.title);
    th.colSpan = 3;
    h.appendChild(th);
    t.appendChild(h);
    for (const r of g.rows) {
      const tr = el("tr");
      tr.appendChild(el("td", null, r.label));
      tr.appendChild(el("td", "m", r.member));
      const v = el("td", "v", r.value + (r.unit ? " " + r.unit : ""));
      v.dataset.member = r.member;
      v.dataset.value = r.value;
      tr.appendChild(v);
      t.appendChild(tr);
    }
  }
  s.appendChild(t);
  return s;
}
function show(model) {
  document.getElementById("site").textContent = "KVRM4410T site · " + model.line + " · meter-host " + model.version;
  const box = document.getElementById("meters");
  box.replaceChildren(...model.meters.map(meterView));
}
function connected(yes) {
  const c = document.getElementById("conn");
  c.textContent = yes ? "live" : "connection to meter-host lost: retrying";
  c.className = yes ? "" : "lost";
}
show(JSON.parse(document.getElementById("model").textContent));
const events = new EventSource("/events");
events.onopen = () => connected(true);
events.onmessage = e => { connected(true); show(JSON.parse(e.data)); };
events.onerror = () => connected(false);
</script>
</body>
</html>
)PAGE";

}  // namespace

std::string page_html(const std::string& modelJson) {
  // "</" would end the script element early.
  std::string safe;
  for (std::size_t i = 0; i < modelJson.size(); ++i) {
    if (modelJson[i] == '<' && i + 1 < modelJson.size() && modelJson[i + 1] == '/') {
      safe += "<\\/";
      ++i;
    } else {
      safe += modelJson[i];
    }
  }
  std::string page(kPageHtml);
  const std::string mark = "/*MODEL*/";
  page.replace(page.find(mark), mark.size(), safe);
  return page;
}

}  // namespace web
