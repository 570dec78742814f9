// What the browser tests stand on: the camera simulator and the web host as
// programs on 127.0.0.1, a registry of their own, and Debian's chromium
// driven by playwright-core with a fresh profile.
"use strict";

const { spawn, execFileSync } = require("node:child_process");
const fs = require("node:fs");
const os = require("node:os");
const path = require("node:path");
const net = require("node:net");
const { chromium } = require("playwright-core");

const BUILD = process.env.LUMVARA_BUILD_DIR;
if (!BUILD) throw new Error("LUMVARA_BUILD_DIR must name the build folder");

const programs = {
  camsim: path.join(BUILD, "apps/camsim/lumvara-camsim"),
  webhost: path.join(BUILD, "apps/webhost/lumvara-webhost"),
  regsvr: path.join(BUILD, "apps/regsvr/lumvara-regsvr"),
  library: path.join(BUILD, "lib/liblumvara.so"),
};

const CHROMIUM_ARGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
  "--disable-background-networking", "--disable-component-update", "--disable-sync"];

// Waits for `predicate` (sync or async) to hold, polling; throws after `ms`.
async function waitFor(predicate, ms, what) {
  const deadline = Date.now() + ms;
  for (;;) {
    const value = await predicate();
    if (value) return value;
    if (Date.now() > deadline) throw new Error("timed out waiting for " + what);
    await new Promise((r) => setTimeout(r, 50));
  }
}

// Starts a program and resolves with the first line of its output that
// matches `pattern` (and the child).
function startProgram(file, args, pattern, env) {
  return new Promise((resolve, reject) => {
    const child = spawn(file, args, { env: Object.assign({}, process.env, env), stdio: ["ignore", "pipe", "pipe"] });
    let out = "";
    let err = "";
    const timer = setTimeout(() => reject(new Error(path.basename(file) + " did not start: " + out + err)), 20000);
    child.stdout.on("data", (d) => {
      out += d;
      const m = pattern.exec(out);
      if (m) {
        clearTimeout(timer);
        resolve({ child, match: m });
      }
    });
    child.stderr.on("data", (d) => { err += d; });
    child.on("exit", (code) => {
      clearTimeout(timer);
      reject(new Error(path.basename(file) + " exited " + code + ": " + out + err));
    });
  });
}

function stopProgram(child) {
  return new Promise((resolve) => {
    if (child.exitCode !== null || child.signalCode !== null) return resolve();
    child.removeAllListeners("exit");
    child.on("exit", () => resolve());
    child.kill("SIGTERM");
    setTimeout(() => child.kill("SIGKILL"), 5000).unref();
  });
}

// Established TCP connections to the camera's port, from /proc/net/tcp.
function connectionsTo(port) {
  const hex = port.toString(16).toUpperCase().padStart(4, "0");
  let count = 0;
  for (const file of ["/proc/net/tcp", "/proc/net/tcp6"]) {
    let text = "";
    try { text = fs.readFileSync(file, "utf8"); } catch { continue; }
    for (const line of text.split("\n").slice(1)) {
      const f = line.trim().split(/\s+/);
      if (f.length < 4) continue;
      // local address, remote address, state 01 = ESTABLISHED; the camera's side
      if (f[1].endsWith(":" + hex) && f[3] === "01") count++;
    }
  }
  return count;
}

class World {
  async start(options = {}) {
    this.dir = fs.mkdtempSync(path.join(os.tmpdir(), "lumvara-browser-"));
    this.env = {
      LUMVARA_REGISTRY: path.join(this.dir, "registry.json"),
      XDG_CONFIG_HOME: path.join(this.dir, "config"),
      HOME: this.dir,
      // The folder SetPath's chooser picks: with `recordings`, a folder of
      // the world's own (this.recordings); without, the user cancels.
      LUMVARA_FOLDER_PICKER_CHOICE: "",
    };
    if (options.recordings) {
      this.recordings = path.join(this.dir, "recordings");
      fs.mkdirSync(this.recordings);
      this.env.LUMVARA_FOLDER_PICKER_CHOICE = this.recordings;
    }
    if (options.register !== false) {
      execFileSync(programs.regsvr, [programs.library], { env: Object.assign({}, process.env, this.env) });
    }
    // With `search`, the simulator answers LAN searches on a loopback port
    // and the host's controls search there instead of broadcasting.
    const searchArgs = options.search ? ["--search-port", "0", "--search-bind", "127.0.0.1", "--name", "simcam"] : [];
    const cam = await startProgram(programs.camsim,
      ["--port", "0", "--user", "admin", "--pwd", "secret"].concat(searchArgs, options.camsimArgs || []),
      /listening on 127\.0\.0\.1:(\d+)(?:, search on udp (\d+))?\n/, this.env);
    this.camsim = cam.child;
    this.cameraPort = Number(cam.match[1]);
    if (options.search) {
      this.env.LUMVARA_SEARCH_ADDR = "127.0.0.1";
      this.env.LUMVARA_SEARCH_PORT = cam.match[2];
    }
    const host = await startProgram(programs.webhost,
      ["--port", "0", "--no-open", "--registry", this.env.LUMVARA_REGISTRY,
        "--demo-camera", "127.0.0.1:" + this.cameraPort, "--demo-user", "admin", "--demo-pwd", "secret"],
      /url: (http:\/\/127\.0\.0\.1:(\d+)\/#token=([0-9a-f]{32}))\n/, this.env);
    this.webhost = host.child;
    this.url = host.match[1];
    this.port = Number(host.match[2]);
    this.token = host.match[3];
    return this;
  }

  async browser() {
    if (!this._browser) {
      this._browser = await chromium.launch({
        executablePath: process.env.LUMVARA_CHROMIUM || "/usr/bin/chromium",
        // Playwright gives every launch a fresh temporary profile of its own.
        args: CHROMIUM_ARGS,
      });
    }
    return this._browser;
  }

  // The browser context that holds the session cookie.
  async context() {
    if (!this._context) {
      this._context = await (await this.browser()).newContext({ viewport: { width: 1280, height: 900 } });
    }
    return this._context;
  }

  async stop() {
    if (this._browser) await this._browser.close();
    if (this.webhost) await stopProgram(this.webhost);
    if (this.camsim) await stopProgram(this.camsim);
    fs.rmSync(this.dir, { recursive: true, force: true });
  }
}

// One raw HTTP/1.1 exchange; resolves with the status code (0 when the
// host closed without answering) and the raw response.
function rawRequest(port, text) {
  return new Promise((resolve) => {
    const socket = net.connect(port, "127.0.0.1");
    let data = "";
    socket.setTimeout(10000, () => socket.destroy());
    socket.on("connect", () => socket.write(text));
    socket.on("data", (d) => {
      data += d.toString("latin1");
      if (/\r\n\r\n/.test(data) && !/^HTTP\/1\.1 101/.test(data)) socket.end();
    });
    socket.on("close", () => {
      const m = /^HTTP\/1\.1 (\d{3})/.exec(data);
      resolve({ status: m ? Number(m[1]) : 0, raw: data });
    });
    socket.on("error", () => {});
  });
}

module.exports = { World, waitFor, connectionsTo, rawRequest, programs };
