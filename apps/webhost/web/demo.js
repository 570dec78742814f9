// The demo page: one live view with a button for every method, the state
// properties, an event log, a LAN search list, the camera's SD-card
// recordings and a 2x2 grid of four views.
"use strict";

const $ = (id) => document.getElementById(id);
const views = [];          // LumvaraControl per view element
let current = null;        // the view the buttons act on
let sdPlaying = null;      // {name, size} of the SD file playing

function log(text) {
  const li = document.createElement("li");
  li.textContent = new Date().toLocaleTimeString() + "  " + text;
  $("log").prepend(li);
  while ($("log").children.length > 200) $("log").lastChild.remove();
}

function showProperties() {
  if (!current) return;
  const dl = $("properties");
  dl.textContent = "";
  for (const name of ["VideoState", "SoundState", "TalkState", "RecordState", "RecFilePath",
                      "RecFileLen", "RecTimeLen", "ReservedSpace", "RecCover"]) {
    const dt = document.createElement("dt");
    dt.textContent = name;
    const dd = document.createElement("dd");
    dd.id = "prop-" + name;
    dd.textContent = String(current[name]);
    dl.append(dt, dd);
  }
}

async function addView(element, index) {
  const ctl = await LumvaraControl.create(element);
  ctl.onMessageNotify = (lType, lParame) => {
    log("view " + index + ": MessageNotify " + lType + " " + lParame);
    if (lType === 0 || lType === 1) select(index);
    if (lType === 10 && sdPlaying && ctl === current) {
      $("sdSeek").value = Math.round(1000 * Math.min(1, lParame / Math.max(1, sdPlaying.size)));
    }
  };
  ctl.onOnCameraSearched = (iStatus, name, ip, port) => addFound(name, ip, port);
  ctl.addEventListener("propertychange", () => { if (ctl === current) showProperties(); });
  views[index] = ctl;
  return ctl;
}

// The recording limit fields start from the selected view's own values, so
// "Set limits" without edits keeps what the control has.
function showLimits() {
  $("fileLen").value = current.RecFileLen;
  $("timeLen").value = current.RecTimeLen;
  $("reserved").value = current.ReservedSpace;
  $("cover").value = current.RecCover;
}

function select(index) {
  const changed = current !== views[index];
  current = views[index];
  if (changed && current) showLimits();
  document.querySelectorAll(".view").forEach((v, i) => v.classList.toggle("selected", i === index));
  showProperties();
}

function camera() {
  return { ip: $("ip").value, port: Number($("port").value), user: $("user").value, pwd: $("pwd").value,
           streamid: Number($("streamid").value) };
}

async function run(label, promise) {
  try {
    const result = await promise;
    log(label + " → " + (result === null || result === undefined ? "done" : result));
    return result;
  } catch (e) {
    log(label + " failed: " + e.message);
    return undefined;
  }
}

function addFound(name, ip, port) {
  const li = document.createElement("li");
  li.textContent = name + "  " + ip + ":" + port;
  li.onclick = () => { $("ip").value = ip; $("port").value = port; $("play").click(); };
  $("found").append(li);
}

function wire() {
  $("play").onclick = () => {
    const c = camera();
    run("PlayVideo", current.PlayVideo(c.user, c.pwd, c.ip, c.port, c.streamid, 0));
  };
  $("stop").onclick = () => run("StopVideo", current.StopVideo());
  $("capture").onclick = () => run("CapturePic", current.CapturePic());
  $("recordOn").onclick = () => run("StartRecord", current.StartRecord());
  $("recordOff").onclick = () => run("StopRecord", current.StopRecord());
  $("soundOn").onclick = () => run("OpenSound", current.OpenSound());
  $("soundOff").onclick = () => run("CloseSound", current.CloseSound());
  $("talkOn").onclick = () => run("StartTalk", current.StartTalk());
  $("talkOff").onclick = () => run("StopTalk", current.StopTalk());
  $("flip").onchange = () => run("SetFlip", current.SetFlip(Number($("flip").value)));
  $("osdOn").onclick = () => run("SetOsd", current.SetOsd($("osdText").value));
  $("osdOff").onclick = () => run("RemoveOsd", current.RemoveOsd());
  $("setAlias").onclick = () => run("SetAlias", current.SetAlias($("alias").value));
  $("full").onclick = () => run("ShowMax", current.ShowMax());
  $("focusOn").onclick = () => run("SetFocus", current.SetFocus(1));
  $("focusOff").onclick = () => run("SetFocus", current.SetFocus(0));
  $("version").onclick = () => run("GetVersion", current.GetVersion());
  $("propertyPage").onclick = showPropertyPage;
  $("setPath").onclick = () => run("SetPath", current.SetPath());
  $("setLimits").onclick = () => run("SetRecordProperty", current.SetRecordProperty(
    Number($("fileLen").value), Number($("timeLen").value), Number($("reserved").value), Number($("cover").value)));
  $("searchButton").onclick = () => { $("found").textContent = ""; run("OnSearchCameras", current.OnSearchCameras()); };
  $("sdList").onclick = listRecordings;
  $("sdStop").onclick = () => { sdPlaying = null; run("SdRecordFileStop", current.SdRecordFileStop()); };
  $("sdSeek").onchange = () => {
    if (!sdPlaying) return;
    const pos = Math.floor(sdPlaying.size * Number($("sdSeek").value) / 1000);
    run("SdRecordFileSetPos", current.SdRecordFileSetPos(pos));
  };
  $("grid").onchange = setGrid;
}

// The control's property page in a dialog: its caption as the title, the
// page as the control draws it below.
async function showPropertyPage() {
  let page;
  try {
    page = await current.propertyPage(400, 160);
  } catch (e) {
    log("Properties failed: " + e.message);
    return;
  }
  log("Properties → " + page.caption);
  $("propCaption").textContent = page.caption;
  if ($("propImage").src) URL.revokeObjectURL($("propImage").src);
  $("propImage").src = URL.createObjectURL(page.picture);
  $("propImage").style.width = page.width / devicePixelRatio + "px";
  $("propPage").showModal();
}

async function listRecordings() {
  const c = camera();
  const from = $("sdFrom").value || "2000-01-01T00:00";
  const to = $("sdTo").value || "2099-12-31T23:59";
  const files = await run("records", LumvaraControl.records({ ip: c.ip, port: c.port, user: c.user, pwd: c.pwd, from, to }));
  $("sdFiles").textContent = "";
  for (const f of files || []) {
    const li = document.createElement("li");
    li.textContent = f.name + "  (" + f.size + " bytes)";
    li.onclick = async () => {
      sdPlaying = f;
      // MJPEG recordings need the MJPEG player (stream 3), whatever the live stream is.
      const streamid = /\.mjpe?g$/i.test(f.name) ? 3 : c.streamid;
      // The control plays an SD recording only while no live view runs.
      await run("StopVideo", current.StopVideo());
      run("SdRecordFilePlay", current.SdRecordFilePlay(c.user, c.pwd, c.ip, c.port, f.name, streamid));
    };
    $("sdFiles").append(li);
  }
}

async function setGrid() {
  const container = $("views");
  const on = $("grid").checked;
  container.classList.toggle("grid", on);
  if (on) {
    for (let i = 1; i < 4; i++) {
      const div = document.createElement("div");
      div.className = "view";
      div.id = "view" + i;
      container.append(div);
      const ctl = await addView(div, i);
      if (config.demoCamera) run("view " + i + " playDemo", ctl.playDemo());
    }
  } else {
    for (let i = 3; i >= 1; i--) {
      if (views[i]) { views[i].destroy(); views[i] = null; }
      const div = $("view" + i);
      if (div) div.remove();
    }
    select(0);
  }
}

let config = {};

async function main() {
  wire();
  try {
    await addView($("view0"), 0);
  } catch (e) {
    log(e.message);
    return;
  }
  select(0);
  config = await (await fetch("/config.json")).json();
  if (config.demoCamera) {
    const colon = config.demoCamera.lastIndexOf(":");
    $("ip").value = config.demoCamera.slice(0, colon);
    $("port").value = config.demoCamera.slice(colon + 1);
    $("user").value = config.demoUser;
    run("playDemo", current.playDemo());
  }
  document.body.dataset.ready = "1";
}

main();
