// The page `track --status` serves at /: everything it needs is in it.

#include "status_server.h"

namespace quarvel::cli {

const char* const kStatusPage = R"PAGE(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<link rel="icon" href="data:,">
<title>quarvel track</title>
<style>
body { font: 14px/1.4 sans-serif; margin: 1em; background: #f4f4f4; color: #222; }
h1 { font-size: 1.3em; margin: 0 0 .5em; }
#cameras { display: flex; flex-wrap: wrap; gap: 1em; }
.camera, .surface { background: #fff; border: 1px solid #ccc; border-radius: 6px; padding: .6em; }
.camera img { display: block; max-width: 640px; width: 100%; background: #000; min-height: 120px; }
table { border-collapse: collapse; margin-top: .4em; }
td { padding: 1px .6em 1px 0; }
td:first-child { color: #666; }
.bad { color: #b00; font-weight: bold; }
#state { color: #666; }
canvas { border: 1px solid #888; background: #222; }
</style>
</head>
<body>
<h1>quarvel track <span id="version"></span></h1>
<p id="state">connecting&hellip;</p>
<div class="surface"><div>the display, <span id="display"></span>: <span id="contacts">0</span> contacts</div>
<canvas id="surface" width="320" height="180"></canvas></div>
<div id="cameras"></div>
<script>
"use strict";
const cards = [];
function cell(table, label, id) {
  const row = table.insertRow();
  row.insertCell().textContent = label;
  const value = row.insertCell();
  value.id = id;
  return value;
}
function card(k, camera) {
  const div = document.createElement("div");
  div.className = "camera";
  const title = document.createElement("div");
  title.textContent = camera.name + " (" + camera.source + ")";
  const img = document.createElement("img");
  img.id = "view-" + k;
  img.alt = "the camera's view";
  const table = document.createElement("table");
  const c = { img: img, loading: false, cells: {} };
  for (const [key, label] of [["fps", "frames a second"], ["frames", "frames"], ["dropped", "skipped / lost / refused"],
                              ["processing", "processing, median / 99% (ms)"], ["latency", "capture to output, median / 99% (ms)"],
                              ["background", "background"], ["contacts", "contacts"], ["drift", "drift"]]) {
    c.cells[key] = cell(table, label, key + "-" + k);
  }
  img.addEventListener("load", () => { c.loading = false; });
  img.addEventListener("error", () => { c.loading = false; });
  div.append(title, img, table);
  document.getElementById("cameras").append(div);
  return c;
}
function fixed(x, digits) { return Number(x).toFixed(digits); }
function drawSurface(status) {
  const canvas = document.getElementById("surface");
  const g = canvas.getContext("2d");
  const w = status.display.width || 1, h = status.display.height || 1;
  canvas.height = Math.round(canvas.width * h / w);
  g.clearRect(0, 0, canvas.width, canvas.height);
  g.fillStyle = "#4c4";
  for (const t of status.contacts) {
    g.beginPath();
    g.arc(t.x / w * canvas.width, t.y / h * canvas.height, 5, 0, 2 * Math.PI);
    g.fill();
  }
}
function show(status) {
  document.getElementById("version").textContent = status.version;
  document.getElementById("display").textContent = status.display.width + " \u00d7 " + status.display.height;
  document.getElementById("contacts").textContent = status.contacts.length;
  document.getElementById("state").textContent = "up " + fixed(status.uptime, 0) + " s; TUIO " + status.outputs.tuio +
      ", touchscreen " + status.outputs.uinput;
  drawSurface(status);
  status.cameras.forEach((camera, k) => {
    const c = cards[k] || (cards[k] = card(k, camera));
    c.cells.fps.textContent = fixed(camera.fps, 1);
    c.cells.frames.textContent = camera.frames;
    c.cells.dropped.textContent = camera.skipped + " / " + camera.lost + " / " + camera.refused;
    c.cells.processing.textContent = fixed(camera.processing_ms.median, 1) + " / " + fixed(camera.processing_ms.p99, 1);
    c.cells.latency.textContent = fixed(camera.latency_ms.median, 1) + " / " + fixed(camera.latency_ms.p99, 1);
    c.cells.background.textContent = camera.background.state + ", threshold " + fixed(camera.background.threshold, 1);
    c.cells.contacts.textContent = camera.contacts.map(t => t.id + " (" + fixed(t.x, 0) + ", " + fixed(t.y, 0) + ")").join(" ") || "none";
    const d = camera.drift;
    c.cells.drift.textContent = d.measured ? fixed(d.camera_px, 2) + " camera px, " + fixed(d.display_px, 2) + " display px" : "not measured yet";
    c.cells.drift.className = d.display_px >= 0.5 ? "bad" : "";
    if (camera.frames > 0 && !c.loading) {
      c.loading = true;
      c.img.src = "view/" + k + ".jpg?frame=" + camera.frames;
    }
  });
}
async function poll() {
  try {
    const response = await fetch("status.json", { cache: "no-store" });
    show(await response.json());
  } catch (e) {
    document.getElementById("state").textContent = "the tracker does not answer";
  }
  setTimeout(poll, 500);
}
poll();
</script>
</body>
</html>
)PAGE";

}  // namespace quarvel::cli
