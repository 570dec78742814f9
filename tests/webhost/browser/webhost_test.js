// The control in a real browser: the demo page against the simulator, and
// the host's refusals through a raw HTTP client.
"use strict";

const test = require("node:test");
const assert = require("node:assert/strict");
const { World, waitFor, connectionsTo, rawRequest } = require("./harness");

// A fingerprint of a canvas's pixels, taken in the page.
async function canvasDigest(page, selector) {
  return page.evaluate((sel) => {
    const canvas = document.querySelector(sel);
    const data = canvas.getContext("2d").getImageData(0, 0, canvas.width, canvas.height).data;
    let h = 0;
    for (let i = 0; i < data.length; i += 97) h = (h * 31 + data[i]) >>> 0;
    return h;
  }, selector);
}

// The colour of one canvas pixel [r, g, b].
async function pixel(page, selector, x, y) {
  return page.evaluate(([sel, px, py]) => {
    const c = document.querySelector(sel);
    return Array.from(c.getContext("2d").getImageData(px, py, 1, 1).data.slice(0, 3));
  }, [selector, x, y]);
}

// A demo page in the world's one browser context: the launch token is good
// for one exchange, so every page shares the session cookie it gave.
async function openDemo(world) {
  const context = await world.context();
  const page = await context.newPage();
  page.on("pageerror", (e) => console.error("page error:", e.message));
  await page.goto(world.url);
  await page.waitForSelector("body[data-ready='1']", { timeout: 20000 });
  return page;
}

// Runs `body` on a fresh demo page and closes the page whatever happens, so
// a failing case leaves no controls behind for the next one.
async function withDemo(world, body) {
  const page = await openDemo(world);
  try {
    await body(page);
  } finally {
    if (!page.isClosed()) await page.close();
  }
}

test("the web host in chromium", async (t) => {
  const world = await new World().start();
  t.after(() => world.stop());

  await t.test("the demo page plays the demo camera and the picture moves", () => withDemo(world, async (page) => {
    await page.evaluate(() => {
      window.notes = [];
      views[0].addEventListener("MessageNotify", (e) => window.notes.push([e.detail.lType, e.detail.lParame]));
    });
    await waitFor(() => page.evaluate(() => views[0].paints > 3), 15000, "pictures");
    const first = await canvasDigest(page, "#view0 canvas");
    await waitFor(async () => (await canvasDigest(page, "#view0 canvas")) !== first, 5000, "a changing picture");
  }));

  await t.test("MessageNotify reaches assigned handlers, and a click fires (0,0) and turns the frame red", () => withDemo(world, async (page) => {
    const played = await page.evaluate(async (cameraPort) => {
      const div = document.createElement("div");
      div.className = "view";
      document.getElementById("views").prepend(div);
      const ctl = await LumvaraControl.create(div);
      const seen = [];
      ctl.onMessageNotify = (lType, lParame) => seen.push([lType, lParame]);
      window.second = ctl;
      window.secondSeen = seen;
      return ctl.PlayVideo("admin", "secret", "127.0.0.1", cameraPort, 0, 0);
    }, world.cameraPort);
    assert.equal(played, 0);
    await waitFor(() => page.evaluate(() => window.secondSeen.some(([a, b]) => a === 2 && b === 0)), 10000,
      "MessageNotify(2,0)");
    await waitFor(() => page.evaluate(() => window.second.paints > 2), 10000, "pictures of the second control");
    const box = await page.evaluate(() => {
      const r = window.second.canvas.getBoundingClientRect();
      return { x: r.left + r.width / 2, y: r.top + r.height / 2 };
    });
    await page.mouse.click(box.x, box.y);
    await waitFor(() => page.evaluate(() => window.secondSeen.some(([a, b]) => a === 0 && b === 0)), 5000,
      "MessageNotify(0,0)");
    await waitFor(async () => {
      const [r, g, b] = await page.evaluate(() => {
        const c = window.second.canvas;
        return Array.from(c.getContext("2d").getImageData(0, Math.floor(c.height / 2), 1, 1).data.slice(0, 3));
      });
      return r > 150 && g < 90 && b < 90;
    }, 5000, "a red focus frame");
  }));

  await t.test("SoundState follows OpenSound, and a wrong password shows the refusal text", () => withDemo(world, async (page) => {
    await waitFor(() => page.evaluate(() => views[0].paints > 1), 15000, "pictures");
    assert.equal(await page.evaluate(() => views[0].OpenSound()), 0);
    await waitFor(() => page.evaluate(() => views[0].SoundState === 1), 5000, "SoundState 1");
    assert.equal(await page.evaluate(() => views[0].CloseSound()), 0);
    await waitFor(() => page.evaluate(() => views[0].SoundState === 0), 5000, "SoundState 0");

    await page.evaluate(async (port) => {
      await views[0].StopVideo();
      await views[0].PlayVideo("admin", "wrong", "127.0.0.1", port, 0, 0);
    }, world.cameraPort);
    // Yellow text on black in the middle of the view.
    await waitFor(() => page.evaluate(() => {
      const c = views[0].canvas;
      const d = c.getContext("2d").getImageData(0, 0, c.width, c.height).data;
      let yellow = 0;
      for (let i = 0; i < d.length; i += 4) if (d[i] > 180 && d[i + 1] > 180 && d[i + 2] < 90) yellow++;
      return yellow > 20;
    }), 10000, "the refusal text");
  }));

  await t.test("the 2x2 grid shows four moving pictures", () => withDemo(world, async (page) => {
    await page.check("#grid");
    await waitFor(() => page.evaluate(() => views.filter((v) => v && v.paints > 3).length === 4), 30000,
      "four views with pictures");
    const before = [];
    for (let i = 0; i < 4; i++) before.push(await canvasDigest(page, "#view" + i + " canvas"));
    await waitFor(async () => {
      for (let i = 0; i < 4; i++) if ((await canvasDigest(page, "#view" + i + " canvas")) === before[i]) return false;
      return true;
    }, 10000, "four changing pictures");
  }));

  await t.test("ShowMax shows the view over the page's screen, ShowNormal brings it back", () =>
    withDemo(world, async (page) => {
      await waitFor(() => page.evaluate(() => views[0].paints > 1), 15000, "pictures");
      const normal = await page.evaluate(() => [views[0].canvas.width, views[0].canvas.height]);
      const screenSize = await page.evaluate(() => [Math.round(screen.width * devicePixelRatio) - 1,
        Math.round(screen.height * devicePixelRatio) - 1]);
      await page.evaluate(() => views[0].ShowMax());
      await waitFor(async () => JSON.stringify(await page.evaluate(() => [views[0].canvas.width, views[0].canvas.height])) ===
        JSON.stringify(screenSize), 15000, "a picture of the screen's size less one");
      await page.evaluate(() => views[0].ShowNormal());
      await waitFor(async () => JSON.stringify(await page.evaluate(() => [views[0].canvas.width, views[0].canvas.height])) ===
        JSON.stringify(normal), 15000, "the element's size again");
    }));

  await t.test("closing the page tears its controls down", () => withDemo(world, async (page) => {
    await waitFor(() => page.evaluate(() => views[0].paints > 1), 15000, "pictures");
    assert.ok(connectionsTo(world.cameraPort) > 0);
    await page.close();
    await waitFor(() => connectionsTo(world.cameraPort) === 0, 3000, "the camera's connections to close");
  }));
});

test("the host refuses what a foreign page or a broken client sends", async (t) => {
  const world = await new World().start();
  t.after(() => world.stop());
  const port = world.port;
  const host = "127.0.0.1:" + port;
  const origin = "http://" + host;
  const upgrade = (extra) => "GET /ws HTTP/1.1\r\nHost: " + host + "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n" +
    "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n" + extra + "\r\n";

  // The one good token exchange of this launch.
  const exchange = await rawRequest(port, "POST /session HTTP/1.1\r\nHost: " + host + "\r\nOrigin: " + origin +
    "\r\nContent-Length: 32\r\n\r\n" + world.token);
  assert.equal(exchange.status, 204);
  const cookie = /Set-Cookie: ([^;\r\n]+)/i.exec(exchange.raw)[1];
  assert.ok(/HttpOnly/i.test(exchange.raw) && /SameSite=Strict/i.test(exchange.raw));

  const cases = [
    ["wrong Host", "GET / HTTP/1.1\r\nHost: evil.example:" + port + "\r\n\r\n", 403],
    ["Host without port", "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", 403],
    ["upgrade from a foreign Origin", upgrade("Origin: http://evil.example\r\nCookie: " + cookie + "\r\n"), 403],
    ["upgrade without the cookie", upgrade("Origin: " + origin + "\r\n"), 403],
    ["upgrade with a wrong cookie", upgrade("Origin: " + origin + "\r\nCookie: lumvara_session=0123\r\n"), 403],
    ["the token a second time", "POST /session HTTP/1.1\r\nHost: " + host + "\r\nContent-Length: 32\r\n\r\n" + world.token, 403],
    ["a wrong token", "POST /session HTTP/1.1\r\nHost: " + host + "\r\nContent-Length: 32\r\n\r\n" + "0".repeat(32), 403],
    ["a GET that tries to change state", "GET /session?token=" + world.token + " HTTP/1.1\r\nHost: " + host + "\r\n\r\n", 405],
    ["the type library without a session", "GET /surface.json HTTP/1.1\r\nHost: " + host + "\r\n\r\n", 403],
    ["an oversized body", "POST /session HTTP/1.1\r\nHost: " + host + "\r\nContent-Length: 70000\r\n\r\n" + "x".repeat(70000), 413],
  ];
  for (const [name, request, status] of cases) {
    const reply = await rawRequest(port, request);
    assert.equal(reply.status, status, name);
    assert.ok(!/Access-Control-Allow/i.test(reply.raw), name + ": no CORS header");
  }
  const page = await rawRequest(port, "GET / HTTP/1.1\r\nHost: " + host + "\r\nConnection: close\r\n\r\n");
  assert.equal(page.status, 200);
  assert.match(page.raw, /frame-ancestors 'none'/);

  // Messages on a good socket, through the browser's own WebSocket.
  const browser = await world.browser();
  const context = await browser.newContext();
  await context.addCookies([{ name: "lumvara_session", value: cookie.split("=")[1], url: origin }]);
  const tab = await context.newPage();
  await tab.goto(origin + "/lumvara.js");
  const answers = await tab.evaluate(async () => {
    const ws = new WebSocket("ws://" + location.host + "/ws");
    const replies = [];
    ws.onmessage = (m) => { if (typeof m.data === "string") replies.push(JSON.parse(m.data)); };
    await new Promise((r) => { ws.onopen = r; });
    const ask = async (text, id) => {
      ws.send(text);
      const deadline = Date.now() + 10000;
      while (Date.now() < deadline) {
        const found = replies.find((r) => r.id === id || (id === null && r.ok === false && r.id === null));
        if (found) { replies.splice(replies.indexOf(found), 1); return found; }
        await new Promise((r) => setTimeout(r, 20));
      }
      return null;
    };
    const out = {};
    out.malformed = await ask("{not json", null);
    const created = await ask(JSON.stringify({ id: 1, op: "create", width: 320, height: 180 }), 1);
    out.created = created;
    const c = created && created.ok ? created.result.control : 0;
    out.unknown = await ask(JSON.stringify({ id: 2, op: "call", control: c, name: "FormatDisk", args: [] }), 2);
    out.count = await ask(JSON.stringify({ id: 3, op: "call", control: c, name: "SetFlip", args: [] }), 3);
    out.type = await ask(JSON.stringify({ id: 4, op: "call", control: c, name: "SetFlip", args: ["1"] }), 4);
    out.good = await ask(JSON.stringify({ id: 5, op: "call", control: c, name: "GetVersion", args: [] }), 5);
    ws.close();
    return out;
  });
  assert.equal(answers.malformed.ok, false);
  assert.equal(answers.created.ok, true, JSON.stringify(answers.created));
  for (const key of ["unknown", "count", "type"]) assert.equal(answers[key].ok, false, key);
  assert.deepEqual(answers.good, { id: 5, ok: true, result: 65536 });
  await context.close();

  // After all that the host still serves a good page.
  const again = await rawRequest(port, "GET / HTTP/1.1\r\nHost: localhost:" + port + "\r\nConnection: close\r\n\r\n");
  assert.equal(again.status, 200);
});

test("an unregistered control class is refused", async (t) => {
  const world = await new World().start({ register: false });
  t.after(() => world.stop());
  const browser = await world.browser();
  const page = await browser.newPage();
  await page.goto(world.url);
  await waitFor(() => page.evaluate(() => document.getElementById("log").textContent.length > 0), 10000, "the log");
  const text = await page.textContent("#log");
  assert.match(text, /not registered/);
});
