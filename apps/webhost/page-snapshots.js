// Shows a page in headless chromium and saves a screenshot of it every 2 s:
// how the web demo shows its live view on a machine without a display.
//   node page-snapshots.js URL FOLDER
"use strict";
const path = require("node:path");
const { chromium } = require("playwright-core");

const [url, folder] = process.argv.slice(2);

(async () => {
  const browser = await chromium.launch({
    executablePath: process.env.LUMVARA_CHROMIUM || "/usr/bin/chromium",
    args: ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
      "--disable-background-networking", "--disable-component-update", "--disable-sync"],
  });
  const stop = async () => { await browser.close().catch(() => {}); process.exit(0); };
  process.on("SIGTERM", stop);
  process.on("SIGINT", stop);
  const page = await (await browser.newContext({ viewport: { width: 1280, height: 900 } })).newPage();
  await page.goto(url);
  for (let n = 1; ; n++) {
    await new Promise((r) => setTimeout(r, 2000));
    const file = path.join(folder, "page-" + String(n).padStart(4, "0") + ".png");
    await page.screenshot({ path: file });
    console.log("page-snapshots: " + file);
  }
})().catch((e) => { console.error("page-snapshots: " + e.message); process.exit(1); });
