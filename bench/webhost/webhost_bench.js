// Web host figures, printed (not a test): picture delay from the camera
// frame reaching the player to the page painting it (and, apart, from the
// host taking the pixels to the paint), at 640x360 and 1280x720; and one page
// with nine 640x360 controls: paints per second per control, the host's CPU
// and the bytes per second on the socket. Each run prints the load average,
// the figures depend on what else the machine does.
//   LUMVARA_BUILD_DIR=build/normal NODE_PATH=tests/webhost/browser/node_modules \
//     node bench/webhost/webhost_bench.js [SECONDS] [RUNS]
// RUNS is a comma list of 640, 720 and grid (default all three).
// The simulator's own picture is 640x360; with LUMVARA_BENCH_LIVE_720 naming
// a 1280x720 H.264 Annex B file (25 fps), the 1280x720 run plays that file,
// otherwise it shows the 640x360 camera in a 1280x720 view.
"use strict";

const fs = require("node:fs");
const path = require("node:path");
const { World, waitFor } = require(path.join(__dirname, "../../tests/webhost/browser/harness.js"));

const seconds = Number(process.argv[2] || 10);
const runs = (process.argv[3] || "640,720,grid").split(",");

function cpuSeconds(pid) {
  const fields = fs.readFileSync("/proc/" + pid + "/stat", "utf8").split(") ")[1].split(" ");
  const ticks = Number(fields[11]) + Number(fields[12]);  // utime + stime
  return ticks / 100;
}

function percentile(sorted, p) {
  if (sorted.length === 0) return NaN;
  return sorted[Math.min(sorted.length - 1, Math.floor(p * sorted.length))];
}

// A page with `count` views of width x height CSS pixels, each playing the
// demo camera; resolves once every view shows pictures.
async function openViews(world, count, width, height) {
  const context = await world.context();
  const page = await context.newPage();
  await page.goto("http://127.0.0.1:" + world.port + "/lumvara.js");
  if (!world.exchanged) {
    await page.evaluate((token) => fetch("/session", { method: "POST", body: token }), world.token);
    world.exchanged = true;
  }
  await page.setContent("<body style='margin:0'></body>");
  await page.addScriptTag({ url: "http://127.0.0.1:" + world.port + "/lumvara.js" });
  await page.evaluate(async ([n, w, h]) => {
    window.delays = [];
    window.hostDelays = [];
    window.ctls = [];
    for (let i = 0; i < n; i++) {
      const div = document.createElement("div");
      div.style.cssText = "display:inline-block;width:" + w + "px;height:" + h + "px";
      document.body.append(div);
      const ctl = await LumvaraControl.create(div);
      ctl.onpaint = (seq, hostDelay, frameDelay) => {
        if (frameDelay > 0) window.delays.push(frameDelay);
        window.hostDelays.push(hostDelay);
      };
      window.ctls.push(ctl);
      await ctl.playDemo();
    }
  }, [count, width, height]);
  await waitFor(() => page.evaluate(() => window.ctls.every((c) => c.paints > 5)), 90000, "pictures in every view");
  return page;
}

function loadAverage() {
  return fs.readFileSync("/proc/loadavg", "utf8").split(" ").slice(0, 3).join(" ");
}

function spread(values) {
  const sorted = values.slice().sort((a, b) => a - b);
  return `median ${percentile(sorted, 0.5).toFixed(1)} ms, p90 ${percentile(sorted, 0.9).toFixed(1)} ms, ` +
    `p99 ${percentile(sorted, 0.99).toFixed(1)} ms`;
}

async function delayRun(world, width, height, camera) {
  const page = await openViews(world, 1, width, height);
  await page.evaluate(() => { window.delays = []; window.hostDelays = []; });
  const load = loadAverage();
  await new Promise((r) => setTimeout(r, seconds * 1000));
  const { delays, hostDelays } = await page.evaluate(() => ({ delays: window.delays, hostDelays: window.hostDelays }));
  await page.close();
  console.log(`camera frame -> painted, ${width}x${height} view, ${camera} camera: ${delays.length} pictures, ` +
    `${spread(delays)} ` +
    `(goal: median <= 60, p99 <= 120 at 640x360); load ${load}`);
  console.log(`  of which host took pixels -> painted: ${spread(hostDelays)}`);
}

async function gridRun(world, count) {
  const page = await openViews(world, count, 640, 360);
  const start = await page.evaluate(() => {
    window.delays = [];
    window.hostDelays = [];
    return { paints: window.ctls.map((c) => c.paints), bytes: LumvaraControl.bytesReceived };
  });
  const cpu0 = cpuSeconds(world.webhost.pid);
  const camCpu0 = cpuSeconds(world.camsim.pid);
  const t0 = Date.now();
  await new Promise((r) => setTimeout(r, seconds * 1000));
  const end = await page.evaluate(() => ({ paints: window.ctls.map((c) => c.paints), bytes: LumvaraControl.bytesReceived,
    delays: window.delays, hostDelays: window.hostDelays }));
  const wall = (Date.now() - t0) / 1000;
  const cpu = cpuSeconds(world.webhost.pid) - cpu0;
  const camCpu = cpuSeconds(world.camsim.pid) - camCpu0;
  await page.close();
  const rates = end.paints.map((p, i) => (p - start.paints[i]) / wall);
  console.log(`${count} controls at 640x360: paints/s per control min ${Math.min(...rates).toFixed(1)}, ` +
    `median ${percentile(rates.slice().sort((a, b) => a - b), 0.5).toFixed(1)}, max ${Math.max(...rates).toFixed(1)} ` +
    `(goal >= 20); host CPU ${(100 * cpu / wall).toFixed(0)} % of one core ` +
    `(the simulator beside it: ${(100 * camCpu / wall).toFixed(0)} %); ` +
    `${((end.bytes - start.bytes) / wall / 1e6).toFixed(2)} MB/s on the socket; load ${loadAverage()}`);
  console.log(`  camera frame -> painted: ${spread(end.delays)}; host took pixels -> painted: ${spread(end.hostDelays)}`);
}

(async () => {
  // Nine views are nine live connections: more than the simulator serves by default.
  const world = await new World().start({ camsimArgs: ["--max-connections", "16"] });
  try {
    if (runs.includes("640")) await delayRun(world, 640, 360, "640x360");
    const file720 = process.env.LUMVARA_BENCH_LIVE_720;
    if (!runs.includes("720")) {
      // not asked for
    } else if (file720) {
      const world720 = await new World().start({ camsimArgs: ["--live-file", file720] });
      try {
        await delayRun(world720, 1280, 720, "1280x720");
      } finally {
        await world720.stop();
      }
    } else {
      await delayRun(world, 1280, 720, "640x360");
    }
    if (runs.includes("grid")) await gridRun(world, 9);
  } finally {
    await world.stop();
  }
})().catch((e) => { console.error(e); process.exit(1); });
