// lumvara.js: Lumvara camera controls in a web page, hosted by lumvara-webhost.
//
//   const ctl = await LumvaraControl.create(element);
//   ctl.onMessageNotify = (lType, lParame) => { ... };
//   ctl.addEventListener("MessageNotify", e => console.log(e.detail.lType));
//   await ctl.PlayVideo("admin", "", "127.0.0.1", 8081, 0, 0);   // 0
//   ctl.RecFileLen = 10;                                          // written to the control
//   ctl.destroy();
//
// Every method of the control keeps its own name and returns a Promise of its
// result; properties are read from a mirror the host keeps current, and
// written through to the control; events arrive as DOM events (detail holds
// the arguments by name) and through on<Event> handlers.
(function (global) {
  "use strict";

  // A picture message: control id, picture number (uint32 each), when the
  // host took the pixels and when the camera frame they show reached the
  // player (float64 ms since the epoch each, 0 for no frame), then the JPEG.
  const PICTURE_HEADER = 24;

  class Connection {
    constructor() {
      this.nextId = 1;
      this.pending = new Map();
      this.controls = new Map();
      this.surface = null;
      this.socket = null;
      this.closed = false;
      this.bytesReceived = 0;  // everything the host sent, for a page's own figures
    }

    // Exchanges a launch token found in the address's fragment for the
    // session cookie, then removes it from the address bar.
    static async exchangeToken() {
      const match = /(?:^#|&)token=([0-9a-f]{32})/.exec(location.hash);
      if (!match) return;
      history.replaceState(null, "", location.pathname + location.search);
      await fetch("/session", { method: "POST", body: match[1], credentials: "same-origin" });
    }

    async open() {
      await Connection.exchangeToken();
      const reply = await fetch("/surface.json", { credentials: "same-origin" });
      if (!reply.ok) throw new Error("lumvara: this page has no session with the host (" + reply.status + ")");
      this.surface = await reply.json();
      const scheme = location.protocol === "https:" ? "wss:" : "ws:";
      this.socket = new WebSocket(scheme + "//" + location.host + "/ws");
      this.socket.binaryType = "arraybuffer";
      await new Promise((resolve, reject) => {
        this.socket.onopen = resolve;
        this.socket.onerror = () => reject(new Error("lumvara: cannot reach the host"));
      });
      this.socket.onmessage = (m) => this.receive(m.data);
      this.socket.onclose = () => this.fail("lumvara: the host closed the connection");
    }

    fail(reason) {
      this.closed = true;
      for (const { reject } of this.pending.values()) reject(new Error(reason));
      this.pending.clear();
      for (const control of this.controls.values()) control._closed();
    }

    request(message) {
      if (this.closed) return Promise.reject(new Error("lumvara: the host connection is closed"));
      const id = this.nextId++;
      message.id = id;
      return new Promise((resolve, reject) => {
        this.pending.set(id, { resolve, reject });
        this.socket.send(JSON.stringify(message));
      });
    }

    post(message) {
      if (!this.closed && this.socket.readyState === WebSocket.OPEN) this.socket.send(JSON.stringify(message));
    }

    receive(data) {
      this.bytesReceived += data instanceof ArrayBuffer ? data.byteLength : data.length;
      if (data instanceof ArrayBuffer) {
        if (data.byteLength < PICTURE_HEADER) return;
        const view = new DataView(data);
        const control = this.controls.get(view.getUint32(0, true));
        if (control) {
          control._picture(view.getUint32(4, true), view.getFloat64(8, true), view.getFloat64(16, true),
            data.slice(PICTURE_HEADER));
        }
        return;
      }
      const message = JSON.parse(data);
      if (message.id !== undefined && message.id !== null) {
        const waiter = this.pending.get(message.id);
        if (!waiter) return;
        this.pending.delete(message.id);
        if (message.ok) waiter.resolve(message.result);
        else waiter.reject(new Error("lumvara: " + message.error));
        return;
      }
      const control = this.controls.get(message.control);
      if (!control) return;
      if (message.op === "event") control._event(message.name, message.args);
      else if (message.op === "property") control._property(message.name, message.value);
    }
  }

  let shared = null;   // the promise of the page's one connection
  let opened = null;   // the connection once open
  function connection() {
    if (!shared) {
      const c = new Connection();
      shared = c.open().then(() => { opened = c; return c; }, (e) => { shared = null; throw e; });
    }
    return shared;
  }

  function deviceSize(element) {
    const ratio = global.devicePixelRatio || 1;
    return {
      width: Math.max(1, Math.round(element.clientWidth * ratio)),
      height: Math.max(1, Math.round(element.clientHeight * ratio)),
    };
  }

  class LumvaraControl extends EventTarget {
    // Creates a control that fills `element` and resolves when it exists.
    static async create(element) {
      const c = await connection();
      const size = deviceSize(element);
      const created = await c.request({ op: "create", width: size.width, height: size.height });
      const control = new LumvaraControl(c, created.control, element, created.properties);
      c.controls.set(created.control, control);
      return control;
    }

    // The camera's SD-card recordings between two times ("YYYY-MM-DDTHH:MM"):
    // {ip, port, user, pwd, from, to} → [{name, size}].
    static async records(query) {
      const c = await connection();
      return c.request(Object.assign({ op: "records" }, query));
    }

    constructor(c, id, element, properties) {
      super();
      this._c = c;
      this._id = id;
      this._element = element;
      this._mirror = Object.assign({}, properties);
      this._handlers = {};
      this._drawing = false;
      this.paints = 0;           // pictures painted so far
      this.lastPaintDelay = 0;   // ms from the host taking a picture to its paint
      this.lastFrameDelay = 0;   // ms from its camera frame reaching the player to its paint; 0 for no frame
      this.onpaint = null;       // (sequence, delayMs, frameDelayMs) after each painted picture

      this.canvas = document.createElement("canvas");
      this.canvas.style.width = "100%";
      this.canvas.style.height = "100%";
      this.canvas.style.display = "block";
      this.canvas.style.outline = "none";  // the control draws its own focus frame
      this.canvas.tabIndex = 0;
      const size = deviceSize(element);
      this.canvas.width = size.width;
      this.canvas.height = size.height;
      element.appendChild(this.canvas);
      this._context = this.canvas.getContext("2d");
      this._wireInput();
      this._wireSurface();
    }

    get controlId() { return this._id; }
    // Bytes the host has sent this page so far (every control's).
    static get bytesReceived() { return opened ? opened.bytesReceived : 0; }

    _wireSurface() {
      const surface = this._c.surface;
      for (const m of surface.methods) {
        Object.defineProperty(this, m.name, {
          value: (...args) => this._call(m.name, args),
          enumerable: true,
        });
      }
      for (const p of surface.properties) {
        Object.defineProperty(this, p.name, {
          get: () => this._mirror[p.name],
          set: (v) => {
            this._mirror[p.name] = v;
            this._c.request({ op: "put", control: this._id, name: p.name, value: v }).catch((e) =>
              this.dispatchEvent(new CustomEvent("error", { detail: e })));
          },
          enumerable: true,
        });
      }
      for (const ev of surface.events) {
        Object.defineProperty(this, "on" + ev.name, {
          get: () => this._handlers[ev.name] || null,
          set: (f) => { this._handlers[ev.name] = typeof f === "function" ? f : null; },
          enumerable: true,
        });
      }
    }

    async _call(name, args) {
      if (name === "ShowMax") this._postScreen();
      const result = await this._c.request({ op: "call", control: this._id, name, args });
      if (name === "ShowMax") this._enterFullscreen();
      else if (name === "ShowNormal") this._leaveFullscreen();
      return result;
    }

    // Plays the camera the host was started with (its password stays there).
    playDemo() { return this._c.request({ op: "playDemo", control: this._id }); }

    // The control's property page drawn at width x height device pixels:
    // { caption, width, height, picture } with picture a JPEG Blob.
    async propertyPage(width = 400, height = 160) {
      const page = await this._c.request({ op: "propertyPage", control: this._id, width, height });
      const bytes = Uint8Array.from(atob(page.jpeg), (c) => c.charCodeAt(0));
      return { caption: page.caption, width: page.width, height: page.height,
               picture: new Blob([bytes], { type: "image/jpeg" }) };
    }

    destroy() {
      if (this._destroyed) return Promise.resolve();
      this._destroyed = true;
      if (this._resize) this._resize.disconnect();
      this.canvas.remove();
      this._c.controls.delete(this._id);
      return this._c.request({ op: "destroy", control: this._id }).catch(() => {});
    }

    _closed() { this._destroyed = true; }

    _event(name, args) {
      const info = this._c.surface.events.find((e) => e.name === name);
      const detail = {};
      if (info) info.params.forEach((p, i) => { detail[p.name] = args[i]; });
      this.dispatchEvent(new CustomEvent(name, { detail }));
      const handler = this._handlers[name];
      if (handler) handler.apply(this, args);
    }

    _property(name, value) {
      this._mirror[name] = value;
      this.dispatchEvent(new CustomEvent("propertychange", { detail: { name, value } }));
    }

    async _picture(sequence, taken, frame, jpeg) {
      if (this._destroyed) return;
      try {
        const bitmap = await createImageBitmap(new Blob([jpeg], { type: "image/jpeg" }));
        if (this.canvas.width !== bitmap.width || this.canvas.height !== bitmap.height) {
          this.canvas.width = bitmap.width;
          this.canvas.height = bitmap.height;
        }
        this._context.drawImage(bitmap, 0, 0);
        bitmap.close();
      } catch (e) {
        // A picture that cannot be decoded is skipped; the next one follows.
      }
      // Only once this picture is on the canvas may the host send the next
      // one, so a slow page never builds a queue; the host takes and
      // compresses it while the browser shows this one.
      this._c.post({ op: "drawn", control: this._id });
      requestAnimationFrame(() => {
        this.paints += 1;
        const now = Date.now();  // the clock the host stamps with (CLOCK_REALTIME)
        this.lastPaintDelay = now - taken;
        this.lastFrameDelay = frame > 0 ? now - frame : 0;
        if (this.onpaint) this.onpaint(sequence, this.lastPaintDelay, this.lastFrameDelay);
      });
    }

    _wireInput() {
      const canvas = this.canvas;
      const point = (e) => {
        const r = canvas.getBoundingClientRect();
        const sx = canvas.width / Math.max(1, r.width);
        const sy = canvas.height / Math.max(1, r.height);
        return { x: Math.max(0, Math.round((e.clientX - r.left) * sx)), y: Math.max(0, Math.round((e.clientY - r.top) * sy)) };
      };
      canvas.addEventListener("mousedown", (e) => {
        if (e.button !== 0 && e.button !== 2) return;
        canvas.focus();
        const p = point(e);
        this._c.post({ op: "mouse", control: this._id, x: p.x, y: p.y, button: e.button === 0 ? 1 : 3, clicks: 1 });
      });
      canvas.addEventListener("dblclick", (e) => {
        const p = point(e);
        this._c.post({ op: "mouse", control: this._id, x: p.x, y: p.y, button: 1, clicks: 2 });
      });
      canvas.addEventListener("contextmenu", (e) => e.preventDefault());
      canvas.addEventListener("keydown", (e) => {
        if (e.key === "Enter") this._c.post({ op: "key", control: this._id, key: 13 });
        else if (e.key === "Escape") this._c.post({ op: "key", control: this._id, key: 27 });
      });
      if (global.ResizeObserver) {
        this._resize = new ResizeObserver(() => {
          // While the element is full screen it shows the control's
          // full-screen view; the control keeps its own size under it (its
          // size handling would move the full-screen view to the element's
          // size). Leaving full screen resizes the element back, which
          // reports the size then.
          if (document.fullscreenElement === this._element) return;
          const size = deviceSize(this._element);
          this._c.post({ op: "resize", control: this._id, width: size.width, height: size.height });
        });
        this._resize.observe(this._element);
      }
    }

    // A full-screen view covers the page's screen, in device pixels.
    _postScreen() {
      const ratio = global.devicePixelRatio || 1;
      this._c.post({ op: "screen", control: this._id,
        width: Math.max(1, Math.round(screen.width * ratio)), height: Math.max(1, Math.round(screen.height * ratio)) });
    }

    _enterFullscreen() {
      if (document.fullscreenElement !== this._element && this._element.requestFullscreen) {
        this._element.requestFullscreen().catch(() => {});
        const left = () => {
          if (document.fullscreenElement === this._element) return;
          document.removeEventListener("fullscreenchange", left);
          // The user's Escape ends full screen as ShowNormal does.
          if (!this._destroyed) this._c.request({ op: "call", control: this._id, name: "ShowNormal", args: [] }).catch(() => {});
        };
        document.addEventListener("fullscreenchange", left);
      }
    }

    _leaveFullscreen() {
      if (document.fullscreenElement === this._element) document.exitFullscreen().catch(() => {});
    }
  }

  global.LumvaraControl = LumvaraControl;
})(typeof window !== "undefined" ? window : globalThis);
