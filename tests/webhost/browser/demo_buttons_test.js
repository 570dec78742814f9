// Every control of the demo page, clicked as a user would, each checked by
// what it visibly does: the event log, the state properties shown, files in
// the recording folder, the picture itself, the lists and the dialog.
"use strict";

const test = require("node:test");
const assert = require("node:assert/strict");
const fs = require("node:fs");
const path = require("node:path");
const { World, waitFor } = require("./harness");

// The text the state panel shows for a property.
const shown = (page, name) => page.evaluate((n) => {
  const dd = document.querySelector("#state #prop-" + n);
  return dd ? dd.textContent : null;
}, name);

const waitShown = (page, name, value, ms = 15000) =>
  waitFor(async () => (await shown(page, name)) === String(value), ms, name + " shown as " + value);

// Waits for an event-log line containing `text` that was not there before
// `since` lines had been logged.
async function waitLog(page, text, since, ms = 15000) {
  const lines = () => page.evaluate(() =>
    Array.from(document.querySelectorAll("#log li")).map((li) => li.textContent).reverse());
  try {
    return await waitFor(async () => (await lines()).slice(since).some((l) => l.includes(text)), ms, "");
  } catch (e) {
    throw new Error("no log line '" + text + "' among: " + JSON.stringify((await lines()).slice(since)));
  }
}

const logCount = (page) => page.evaluate(() => document.querySelectorAll("#log li").length);

// Mean of blue less green over the left and right eighth of the main view's
// middle rows. The simulator's picture gets bluer to the right, so a
// left-right mirror swaps which side is bluer.
const blueSides = (page) => page.evaluate(() => {
  const c = views[0].canvas;
  const d = c.getContext("2d").getImageData(0, 0, c.width, c.height).data;
  const strip = (x0, x1) => {
    let sum = 0;
    let n = 0;
    for (let y = Math.floor(c.height * 0.3); y < c.height * 0.7; y += 2) {
      for (let x = x0; x < x1; x += 2) {
        const i = (y * c.width + x) * 4;
        sum += d[i + 2] - d[i + 1];
        n++;
      }
    }
    return sum / n;
  };
  const eighth = Math.floor(c.width / 8);
  return { left: strip(2, eighth), right: strip(c.width - eighth, c.width - 2) };
});

// Dark pixels (the control's text) in the top-left corner of the main view.
const inkTopLeft = (page) => page.evaluate(() => {
  const c = views[0].canvas;
  const w = Math.floor(c.width * 0.4);
  const h = Math.floor(c.height * 0.12);
  const d = c.getContext("2d").getImageData(0, 0, w, h).data;
  let ink = 0;
  for (let i = 0; i < d.length; i += 4) if (d[i] < 40 && d[i + 1] < 40 && d[i + 2] < 40) ink++;
  return ink;
});

// Whether the left edge of the main view is drawn red (the focus frame).
const redFrame = (page) => page.evaluate(() => {
  const c = views[0].canvas;
  const [r, g, b] = c.getContext("2d").getImageData(0, Math.floor(c.height / 2), 1, 1).data;
  return r > 150 && g < 90 && b < 90;
});

const paints = (page) => page.evaluate(() => views[0].paints);
const moreMaterial = async (page, count = 3) => {
  const before = await paints(page);
  await waitFor(async () => (await paints(page)) >= before + count, 10000, "new pictures");
};

const filesIn = (dir, pattern) => {
  const found = [];
  const walk = (d) => {
    for (const e of fs.readdirSync(d, { withFileTypes: true })) {
      const p = path.join(d, e.name);
      if (e.isDirectory()) walk(p);
      else if (pattern.test(e.name) && fs.statSync(p).size > 0) found.push(p);
    }
  };
  if (fs.existsSync(dir)) walk(dir);
  return found;
};

// Each case clicks a control of the page and waits for what it does. They
// run in order on one page: the folder chosen first is where later cases
// find their files.
function cases(world, folder) {
  return [
    ["Stop", async (page) => {
      const since = await logCount(page);
      await page.click("#stop");
      await waitLog(page, "StopVideo → 0", since);
      await waitShown(page, "VideoState", 0);
      // No more pictures of the camera: the view no longer changes.
      await waitFor(async () => {
        const a = await paints(page);
        await new Promise((r) => setTimeout(r, 500));  // a window in which no picture may come
        return (await paints(page)) === a;
      }, 8000, "the pictures to stop");
    }],
    ["Play with address, port, user and password", async (page) => {
      await page.fill("#ip", "127.0.0.1");
      await page.fill("#port", String(world.cameraPort));
      await page.fill("#user", "admin");
      await page.fill("#pwd", "secret");
      const since = await logCount(page);
      await page.click("#play");
      await waitLog(page, "PlayVideo → 0", since);
      await moreMaterial(page);
    }],
    ["Choose folder (settings path)", async (page) => {
      await page.click("#setPath");
      await waitShown(page, "RecFilePath", folder);
    }],
    ["Set limits", async (page) => {
      // The fields start from the control's own limits.
      for (const [field, name] of [["fileLen", "RecFileLen"], ["timeLen", "RecTimeLen"],
                                   ["reserved", "ReservedSpace"], ["cover", "RecCover"]]) {
        assert.equal(await page.inputValue("#" + field), await page.textContent("#prop-" + name), field);
      }
      await page.fill("#fileLen", "150");
      await page.fill("#timeLen", "7");
      await page.fill("#reserved", "300");
      await page.fill("#cover", "0");
      await page.click("#setLimits");
      await waitShown(page, "RecFileLen", 150);
      await waitShown(page, "RecTimeLen", 7);
      await waitShown(page, "ReservedSpace", 300);
      await waitShown(page, "RecCover", 0);
      // Below the smallest limits, the smallest are kept.
      await page.fill("#fileLen", "1");
      await page.click("#setLimits");
      await waitShown(page, "RecFileLen", 100);
    }],
    ["Snapshot", async (page) => {
      const since = await logCount(page);
      await page.click("#capture");
      await waitLog(page, "CapturePic → 0", since);
      await waitFor(() => filesIn(folder, /\.bmp$/i).length > 0, 8000, "a snapshot file in the folder");
    }],
    ["Record and stop recording", async (page) => {
      await page.click("#recordOn");
      await waitShown(page, "RecordState", 1);
      await waitFor(() => filesIn(folder, /\.avi$/i).length > 0, 10000, "a recording in the folder");
      await page.click("#recordOff");
      await waitShown(page, "RecordState", 0);
    }],
    ["Sound on and off", async (page) => {
      await page.click("#soundOn");
      await waitShown(page, "SoundState", 1);
      await page.click("#soundOff");
      await waitShown(page, "SoundState", 0);
    }],
    ["Talk and stop talk", async (page) => {
      await page.click("#talkOn");
      await waitShown(page, "TalkState", 1);
      await page.click("#talkOff");
      await waitShown(page, "TalkState", 0);
    }],
    ["Mirror left-right and back", async (page) => {
      const plain = await blueSides(page);
      assert.ok(plain.right > plain.left, "the picture is bluer to the right: " + JSON.stringify(plain));
      await page.selectOption("#flip", "1");
      await waitFor(async () => { const s = await blueSides(page); return s.left > s.right; }, 8000,
        "the bluer side on the left");
      await page.selectOption("#flip", "0");
      await waitFor(async () => { const s = await blueSides(page); return s.right > s.left; }, 8000,
        "the bluer side on the right again");
    }],
    ["Show and remove text", async (page) => {
      // The camera's own digits sit in dark boxes that stay put; the text
      // adds dark pixels of its own.
      await moreMaterial(page);
      const plain = await inkTopLeft(page);
      await page.fill("#osdText", "Lumvara door");
      await page.click("#osdOn");
      await waitFor(async () => (await inkTopLeft(page)) > plain + 100, 8000, "the text in the top-left corner");
      const withText = await inkTopLeft(page);
      await page.click("#osdOff");
      await waitFor(async () => (await inkTopLeft(page)) < (plain + withText) / 2, 8000, "the text gone");
    }],
    ["Focus and no focus", async (page) => {
      await page.click("#focusOn");
      await waitFor(() => redFrame(page), 5000, "a red focus frame");
      await page.click("#focusOff");
      await waitFor(async () => !(await redFrame(page)), 5000, "no red focus frame");
    }],
    ["Full screen, and Escape back", async (page) => {
      const normal = await page.evaluate(() => [views[0].canvas.width, views[0].canvas.height]);
      await page.click("#full");
      const state = () => page.evaluate(() => ({
        full: document.fullscreenElement ? document.fullscreenElement.id : null,
        width: views[0].canvas.width,
        screen: Math.round(screen.width * devicePixelRatio),
      }));
      try {
        await waitFor(async () => { const s = await state(); return s.full === "view0" && s.width === s.screen - 1; },
          15000, "");
      } catch (e) {
        throw new Error("the view is not full screen with a screen-sized picture: " + JSON.stringify(await state()));
      }
      // The user's Escape: the browser leaves full screen.
      await page.evaluate(() => document.exitFullscreen());
      await waitFor(async () => JSON.stringify(await page.evaluate(() =>
        [views[0].canvas.width, views[0].canvas.height])) === JSON.stringify(normal), 15000, "the element's size again");
    }],
    ["Set alias and version", async (page) => {
      await page.fill("#alias", "door");
      let since = await logCount(page);
      await page.click("#setAlias");
      await waitLog(page, "SetAlias → 0", since);
      since = await logCount(page);
      await page.click("#version");
      await waitLog(page, "GetVersion → ", since);
    }],
    ["Properties", async (page) => {
      await page.click("#propertyPage");
      await page.waitForSelector("#propPage[open]", { timeout: 8000 });
      assert.equal(await page.textContent("#propCaption"), "常规");
      // The page as the control draws it: a light face with dark text.
      await waitFor(() => page.evaluate(() => document.getElementById("propImage").complete &&
        document.getElementById("propImage").naturalWidth > 0), 5000, "the page's picture");
      const { face, ink } = await page.evaluate(() => {
        const img = document.getElementById("propImage");
        const c = document.createElement("canvas");
        c.width = img.naturalWidth;
        c.height = img.naturalHeight;
        const g = c.getContext("2d");
        g.drawImage(img, 0, 0);
        const d = g.getImageData(0, 0, c.width, c.height).data;
        let face = 0;
        let ink = 0;
        for (let i = 0; i < d.length; i += 4) {
          if (d[i] > 220 && d[i + 1] > 220 && d[i + 2] > 220) face++;
          else if (d[i] < 100 && d[i + 1] < 100 && d[i + 2] < 100) ink++;
        }
        return { face: face / (d.length / 4), ink };
      });
      assert.ok(face > 0.5, "a light face: " + face);
      assert.ok(ink > 50, "caption and hint drawn: " + ink);
      await page.click("#propClose");
      await waitFor(() => page.evaluate(() => !document.getElementById("propPage").open), 3000, "the dialog closed");
    }],
    ["Search, and a click on a found camera plays it", async (page) => {
      await page.click("#stop");
      await page.fill("#port", "1");  // the click must bring the camera's own port
      await page.click("#searchButton");
      await waitFor(() => page.evaluate(() => document.querySelectorAll("#found li").length > 0), 10000,
        "a camera in the search list");
      assert.match(await page.textContent("#found li"), new RegExp("simcam .*127\\.0\\.0\\.1:" + world.cameraPort));
      const since = await logCount(page);
      await page.click("#found li");
      assert.equal(await page.inputValue("#port"), String(world.cameraPort));
      await waitLog(page, "PlayVideo → 0", since);
      await moreMaterial(page);
    }],
    ["SD recordings: list, play, seek and stop", async (page) => {
      await page.fill("#sdFrom", "2026-12-09T00:00");
      await page.fill("#sdTo", "2026-12-10T23:59");
      await page.click("#sdList");
      await waitFor(() => page.evaluate(() => document.querySelectorAll("#sdFiles li").length === 4), 20000,
        "the four recordings of the two days");
      await page.evaluate(() => { document.getElementById("sdSeek").value = "0"; });
      let since = await logCount(page);
      await page.click("#sdFiles li:nth-child(2)");
      await waitLog(page, "SdRecordFilePlay → 0", since);
      await moreMaterial(page);
      // Progress events move the seek bar.
      await waitFor(() => page.evaluate(() => Number(document.getElementById("sdSeek").value) > 0), 10000,
        "the seek bar moving");
      since = await logCount(page);
      await page.evaluate(() => {
        const seek = document.getElementById("sdSeek");
        seek.value = "100";
        seek.dispatchEvent(new Event("change"));
      });
      await waitLog(page, "SdRecordFileSetPos → 0", since);
      since = await logCount(page);
      await page.click("#sdStop");
      await waitLog(page, "SdRecordFileStop → 0", since);
      // The MJPEG recording plays through the other player.
      since = await logCount(page);
      await page.click("#sdFiles li:nth-child(4)");
      await waitLog(page, "SdRecordFilePlay → 0", since);
      await moreMaterial(page);
      since = await logCount(page);
      await page.click("#sdStop");
      await waitLog(page, "SdRecordFileStop → 0", since);
    }],
    ["2x2 grid on and off", async (page) => {
      await page.check("#grid");
      await waitFor(() => page.evaluate(() => views.filter((v) => v && v.paints > 3).length === 4), 30000,
        "four views with pictures");
      await page.uncheck("#grid");
      await waitFor(() => page.evaluate(() => document.querySelectorAll(".view").length === 1 &&
        views.filter((v) => v).length === 1), 8000, "one view again");
    }],
  ];
}

test("every control of the demo page does what it says", async (t) => {
  const world = await new World().start({ search: true, recordings: true });
  t.after(() => world.stop());
  const folder = world.recordings;

  const context = await world.context();
  const page = await context.newPage();
  page.on("pageerror", (e) => console.error("page error:", e.message));
  await page.goto(world.url);
  await page.waitForSelector("body[data-ready='1']", { timeout: 20000 });
  await waitFor(() => page.evaluate(() => views[0].paints > 3), 15000, "pictures of the demo camera");
  // A click or a state value must reach the element meant: no id twice.
  const twice = await page.evaluate(() => {
    const ids = Array.from(document.querySelectorAll("[id]")).map((e) => e.id);
    return ids.filter((id, i) => ids.indexOf(id) !== i);
  });
  assert.deepEqual(twice, [], "ids used twice on the page");
  t.after(() => page.close());

  for (const [name, body] of cases(world, folder)) {
    await t.test(name, async () => {
      try {
        await body(page);
      } finally {
        // A failed case leaves no dialog or full screen in the next one's way.
        await page.evaluate(() => {
          const d = document.getElementById("propPage");
          if (d.open) d.close();
          if (document.fullscreenElement) return document.exitFullscreen();
          return undefined;
        });
      }
    });
  }
});
