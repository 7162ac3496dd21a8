// Velmor's control page: status, meter and settings from the events socket, the preview by
// polling, the actions as POSTs and the settings as PATCHes of /api/v1/settings. The token stays
// in this browser (localStorage) and only ever travels in an Authorization header or as the events
// socket's first message, never in a URL.
"use strict";

const $ = (id) => document.getElementById(id);
const TOKEN_KEY = "velmor-token";
let token = "";
let socket = null;
let reconnectDelay = 500;
let status = null;
let previewUrl = null;
let previewTimer = null;
const meter = { target: [0, 0], shown: [0, 0], fall: [0, 0], peak: [-120, -120], overload: [false, false] };

function takeTokenFromLink() {
  const match = /(?:^#|&)token=([^&]+)/.exec(location.hash);
  if (match) {
    token = decodeURIComponent(match[1]);
    try { localStorage.setItem(TOKEN_KEY, token); } catch (e) { /* private mode: memory only */ }
    history.replaceState(null, "", location.pathname + location.search);
  } else {
    try { token = localStorage.getItem(TOKEN_KEY) || ""; } catch (e) { token = ""; }
  }
}

function say(text) { $("message").textContent = text || ""; }

function askForToken(why) {
  $("control").hidden = true;
  $("token-form").hidden = false;
  $("token-error").textContent = why || "";
  $("link-state").textContent = "Not connected to Velmor";
  $("link-state").classList.remove("live");
  $("token-input").focus();
}

async function api(method, path, body) {
  const options = { method, headers: { Authorization: "Bearer " + token }, cache: "no-store" };
  if (body !== undefined) {
    options.headers["Content-Type"] = "application/json";
    options.body = JSON.stringify(body);
  }
  let response;
  try {
    response = await fetch(path, options);
  } catch (e) {
    say("Velmor cannot be reached.");
    return null;
  }
  if (response.status === 401) {
    askForToken("The token was not accepted.");
    return null;
  }
  const type = response.headers.get("Content-Type") || "";
  const data = type.startsWith("application/json") ? await response.json() : null;
  if (!response.ok) {
    const why = data && data.error ? data.error : "Velmor answered " + response.status;
    say(data && data.field ? data.field + ": " + why : why);
  } else if (method !== "GET") {
    say("");  // an action went through: an earlier refusal no longer stands
  }
  return { status: response.status, data };
}

// --- Events ---------------------------------------------------------------------------------

function openEvents() {
  if (socket) { socket.onclose = null; socket.close(); }
  const scheme = location.protocol === "https:" ? "wss://" : "ws://";
  socket = new WebSocket(scheme + location.host + "/api/v1/events", ["velmor-events"]);
  socket.onopen = () => socket.send(JSON.stringify({ token }));
  socket.onmessage = (event) => {
    let message;
    try { message = JSON.parse(event.data); } catch (e) { return; }
    reconnectDelay = 500;
    if (message.type === "status") showStatus(message.status);
    else if (message.type === "levels") takeLevels(message);
    else if (message.type === "counters") showCounters(message.counters);
    else if (message.type === "settings") showSettings(message.settings);
  };
  socket.onclose = (event) => {
    $("link-state").textContent = "Not connected to Velmor";
    $("link-state").classList.remove("live");
    if (event.code === 4401) { askForToken("The token was not accepted."); return; }
    setTimeout(openEvents, reconnectDelay);
    reconnectDelay = Math.min(reconnectDelay * 2, 8000);
  };
}

// --- Status -----------------------------------------------------------------------------------

function setText(id, text) {
  const element = $(id);
  if (element.textContent !== text) element.textContent = text;
}

function setLamp(id, name, colour) {
  const lamp = $(id);
  lamp.className = "lamp " + colour;
  lamp.setAttribute("aria-label", name + ": " + colour);
}

function showStatus(s) {
  status = s;
  $("token-form").hidden = true;
  $("control").hidden = false;
  $("link-state").textContent = s.connected ? "Relaying" : "Connected to Velmor";
  $("link-state").classList.add("live");
  setText("title", s.title || "Velmor");
  document.title = "Velmor" + (s.copy ? " " + s.copy : "");
  const c = s.captions || {};
  setText("caption-source", c.source || "");
  setText("caption-video", c.video || "");
  setText("caption-audio", c.audio || "");
  setText("caption-time", c.time || "");
  setLamp("lamp-signal", "Signal lamp", (s.lamps || {}).signal || "grey");
  setLamp("lamp-freeze", "Freeze lamp", (s.lamps || {}).freeze || "grey");

  const freeze = (s.buttons || {}).freeze || { caption: "Freeze", colour: 2 };
  const button = $("freeze");
  setText("freeze", freeze.caption);
  button.className = "colour-" + freeze.colour;
  button.setAttribute("aria-pressed", s.frozen ? "true" : "false");

  const list = $("source-list");
  const chosen = list.value;
  const names = (s.sources || []).map((x) => x.name);
  const shown = Array.from(list.options).map((o) => o.value);
  if (names.join("\n") !== shown.join("\n")) {
    list.replaceChildren(...(s.sources || []).map((x) => {
      const option = document.createElement("option");
      option.value = x.name;
      option.textContent = x.name;
      if (x.address) option.title = x.address;
      return option;
    }));
    if (names.includes(chosen)) list.value = chosen;
    else if (s.source && names.includes(s.source)) list.value = s.source;
  }
  list.disabled = names.length === 0;
  // Velmor connects only from a disconnected state (as the window's list does).
  $("connect").disabled = names.length === 0 || s.connected;

  const states = $("buttons-state");
  states.replaceChildren(...Object.entries(s.buttons || {}).map(([name, b]) => {
    const item = document.createElement("li");
    item.className = "colour-" + b.colour;
    item.textContent = b.caption + (b.enabled ? "" : " (disabled)");
    item.title = name;
    return item;
  }));
  showCounters(s.counters);
}

function showCounters(counters) {
  if (!counters) return;
  const rows = [
    ["Video frames received", counters.videoFramesReceived],
    ["Video frames sent", counters.videoFramesSent],
    ["Video frames dropped", counters.videoFramesDropped],
    ["Audio samples sent", counters.audioSamplesSent],
  ];
  const list = $("counters");
  if (list.children.length !== rows.length * 2) {
    list.replaceChildren(...rows.flatMap(([name]) => {
      const dt = document.createElement("dt");
      dt.textContent = name;
      return [dt, document.createElement("dd")];
    }));
  }
  rows.forEach(([, value], i) => {
    const text = String(value ?? 0);
    if (list.children[2 * i + 1].textContent !== text) list.children[2 * i + 1].textContent = text;
  });
}

// --- Meter ----------------------------------------------------------------------------------

function takeLevels(message) {
  for (let i = 0; i < 2; ++i) {
    meter.target[i] = message.bar[i];
    meter.peak[i] = message.peakDbfs[i];
    meter.overload[i] = message.overload[i];
  }
}

// The window's meter: a rise shows at once, a fall speeds up (its ballistics, per frame here).
function drawMeter() {
  ["meter-left", "meter-right"].forEach((id, i) => {
    if (meter.target[i] >= meter.shown[i]) {
      meter.shown[i] = meter.target[i];
      meter.fall[i] = 0;
    } else {
      meter.fall[i] = Math.min(meter.fall[i] + 0.0005, 0.008);
      meter.shown[i] = Math.max(meter.target[i], meter.shown[i] - meter.fall[i]);
    }
    const bar = $(id);
    const fill = bar.firstElementChild;
    const height = (meter.shown[i] * 100).toFixed(1) + "%";
    if (fill.style.height !== height) fill.style.height = height;
    const over = meter.shown[i] >= 0.71;
    fill.classList.toggle("over", over);
    if (over) fill.style.setProperty("--g", (71 / meter.shown[i]).toFixed(1) + "%");
    bar.classList.toggle("overload", meter.overload[i]);
    const db = Math.round(meter.peak[i]);
    if (bar.getAttribute("aria-valuenow") !== String(db)) {
      bar.setAttribute("aria-valuenow", String(db));
      bar.setAttribute("aria-valuetext", db <= -120 ? "silence" : db + " dBFS");
    }
  });
  const text = (p) => (p <= -120 ? "--" : p.toFixed(1));
  setText("meter-text", "L " + text(meter.peak[0]) + " dBFS · R " + text(meter.peak[1]) + " dBFS");
  requestAnimationFrame(drawMeter);
}

// --- Preview --------------------------------------------------------------------------------

async function refreshPreview() {
  previewTimer = null;
  if (!token || document.visibilityState !== "visible") return;
  try {
    const response = await fetch("/api/v1/preview.jpg", {
      headers: { Authorization: "Bearer " + token }, cache: "no-store" });
    if (response.status === 401) { askForToken("The token was not accepted."); return; }
    if (response.ok) {
      const url = URL.createObjectURL(await response.blob());
      $("preview").src = url;
      $("preview").hidden = false;
      $("no-picture").hidden = true;
      if (previewUrl) URL.revokeObjectURL(previewUrl);
      previewUrl = url;
    }
  } catch (e) { /* Velmor away: the events socket says so */ }
  previewTimer = setTimeout(refreshPreview, 200);
}

function startPreview() {
  if (!previewTimer) previewTimer = setTimeout(refreshPreview, 0);
}

// --- Settings -------------------------------------------------------------------------------

// The proc amp's sliders, with the captions the proc amp window gives them.
const SLIDERS = [
  ["procAmp.blackLevel", "Black Level"], ["procAmp.gain", "Gain"],
  ["procAmp.contrast", "Contrast"], ["procAmp.gamma", "Gamma"],
  ["procAmp.colourSat", "Colour Sat"], ["procAmp.uLevelShift", "U Level Shift"],
  ["procAmp.vLevelShift", "V Level Shift"],
];
const MAP = "audio.channelMap";
let settings = null;
let editing = null;  // the control being moved: a settings event does not move it meanwhile
const pending = {};
let patchTimer = null;

function sliderId(name) { return "set-" + name.replace(/\W/g, "-"); }

function buildSliders() {
  const box = $("procamp-sliders");
  if (box.children.length) return;
  for (const [name, caption] of SLIDERS) {
    const id = sliderId(name);
    const row = document.createElement("div");
    row.className = "slider-row";
    const label = document.createElement("label");
    label.htmlFor = id;
    label.textContent = caption;
    const slider = document.createElement("input");
    slider.type = "range";
    slider.id = id;
    slider.dataset.setting = name;
    slider.setAttribute("aria-describedby", id + "-text");
    const text = document.createElement("output");
    text.id = id + "-text";
    text.htmlFor = id;
    row.append(label, slider, text);
    box.append(row);
  }
}

function fillChoices(select, limits) {
  const choices = (limits && limits.choices) || [];
  const have = Array.from(select.options).filter((o) => !o.disabled).map((o) => o.value);
  if (have.join() === choices.map((c) => String(c.value)).join()) return;
  select.replaceChildren(...choices.map((c) => new Option(c.text, String(c.value))));
}

// The audio map: one choice of input (or "Mute") for each of the source's outputs.
function showAudioMap(doc) {
  const channels = (doc.limits[MAP] || {}).channels || 0;
  const map = doc.values[MAP] || [];
  const rows = $("audio-map-rows");
  if (rows.children.length !== channels) {
    rows.replaceChildren(...Array.from({ length: channels }, (_, i) => {
      const row = document.createElement("div");
      row.className = "row";
      const label = document.createElement("label");
      label.htmlFor = "map-" + i;
      label.textContent = "Output " + (i + 1);
      const select = document.createElement("select");
      select.id = "map-" + i;
      select.dataset.output = String(i);
      for (let c = 0; c < channels; ++c) select.append(new Option("Input " + (c + 1), String(c)));
      select.append(new Option("Mute", String(channels)));
      select.addEventListener("change", () => {
        const entries = Array.from(rows.querySelectorAll("select")).map((s) => Number(s.value));
        queueChange(MAP, entries);
      });
      row.append(label, select);
      return row;
    }));
  }
  rows.querySelectorAll("select").forEach((select, i) => {
    if (select === editing) return;
    const entry = map[i] <= channels ? map[i] : i;
    if (select.value !== String(entry)) select.value = String(entry);
  });
  $("audio-map-none").hidden = channels > 0;
  for (const id of ["set-mono", "set-gain"]) $(id).disabled = channels === 0;
}

function showSettings(doc) {
  if (!doc || !doc.values) return;
  settings = doc;
  buildSliders();
  for (const id of ["video-panel", "procamp-panel", "audio-panel"]) $(id).hidden = false;
  document.querySelectorAll("[data-setting]").forEach((control) => {
    const name = control.dataset.setting;
    const value = doc.values[name];
    const limits = doc.limits[name];
    if (value === undefined) { control.disabled = true; return; }
    if (control.tagName === "SELECT") fillChoices(control, limits);
    // Not under the operator's hands: a slider being moved, a number being typed.
    if (control === editing || (control.type === "number" && control === document.activeElement)) {
      return;
    }
    if (control.type === "checkbox") {
      control.checked = value !== 0;
    } else if (control.type === "range") {
      control.min = limits.min;
      control.max = limits.max;
      control.value = value;
      const text = doc.texts[name] || String(value);
      control.setAttribute("aria-valuetext", text);
      setText(control.id + "-text", text);
    } else if (control.tagName === "SELECT" && name === "audio.gainStep" && value === 0) {
      // No step chosen yet: shown, but not to be chosen again (as in the window).
      if (!control.querySelector("option[value='0']")) {
        const none = new Option("None chosen", "0");
        none.disabled = true;
        control.prepend(none);
      }
      control.value = "0";
    } else {
      if (name === "audio.gainStep") control.querySelector("option[value='0']")?.remove();
      control.value = String(value);
    }
  });
  showAudioMap(doc);
}

async function loadSettings() {
  const r = await api("GET", "/api/v1/settings");
  if (r && r.status === 200) showSettings(r.data);
}

// Changes go out together a moment after the last one (a slider dragged sends a few a second);
// the answer is the settings as they now are, and a refusal brings back what the relay has.
function queueChange(name, value, delay = 60) {
  pending[name] = value;
  if (!patchTimer) patchTimer = setTimeout(sendChanges, delay);
}

async function sendChanges() {
  patchTimer = null;
  const body = Object.assign({}, pending);
  for (const key of Object.keys(pending)) delete pending[key];
  const r = await api("PATCH", "/api/v1/settings", body);
  if (r && r.status === 200) showSettings(r.data);
  else if (r) loadSettings();
}

function wireSettings() {
  document.querySelectorAll("[data-setting]").forEach((control) => {
    const name = control.dataset.setting;
    if (control.type === "checkbox") {
      control.addEventListener("change", () => queueChange(name, control.checked ? 1 : 0));
    } else if (control.type === "number") {
      control.addEventListener("change", () => {
        if (control.validity.valid && control.value !== "") queueChange(name, Number(control.value));
        else if (settings) control.value = settings.values[name];
      });
    } else {
      control.addEventListener("change", () => queueChange(name, Number(control.value)));
    }
  });
  // The sliders exist once the first settings came; their events bubble up to the box.
  const box = $("procamp-sliders");
  box.addEventListener("input", (event) => {
    editing = event.target;
    queueChange(event.target.dataset.setting, Number(event.target.value), 120);
  });
  box.addEventListener("change", (event) => {
    queueChange(event.target.dataset.setting, Number(event.target.value));
    editing = null;
  });
  $("procamp-reset").addEventListener("click", () => {
    for (const [name] of SLIDERS) queueChange(name, 50);
  });
}

// --- Controls -------------------------------------------------------------------------------

function wire() {
  $("token-form").addEventListener("submit", (event) => {
    event.preventDefault();
    token = $("token-input").value.trim();
    $("token-input").value = "";
    try { localStorage.setItem(TOKEN_KEY, token); } catch (e) { /* memory only */ }
    start();
  });
  $("forget").addEventListener("click", () => {
    try { localStorage.removeItem(TOKEN_KEY); } catch (e) { /* nothing kept */ }
    token = "";
    if (socket) { socket.onclose = null; socket.close(); socket = null; }
    askForToken("");
  });
  $("connect").addEventListener("click", () => {
    const name = $("source-list").value;
    if (name) api("POST", "/api/v1/connect", { source: name });
  });
  $("disconnect").addEventListener("click", () => api("POST", "/api/v1/disconnect"));
  $("freeze").addEventListener("click", () =>
    api("POST", "/api/v1/freeze", { on: !(status && status.frozen) }));
  $("grab").addEventListener("click", async () => {
    setText("grab-result", "Grabbing…");
    const r = await api("POST", "/api/v1/grab");
    setText("grab-result", r && r.data && r.data.file ? "Saved " + r.data.file : "");
  });
  $("text-show").addEventListener("click", () =>
    api("POST", "/api/v1/text", { text: $("text-input").value }));
  $("text-hide").addEventListener("click", () => api("DELETE", "/api/v1/text"));
  wireSettings();
  document.addEventListener("visibilitychange", startPreview);
  // A link with a token opened in a tab that shows the page already.
  window.addEventListener("hashchange", () => {
    if (!/token=/.test(location.hash)) return;
    takeTokenFromLink();
    start();
  });
}

function start() {
  if (!token) { askForToken(""); return; }
  openEvents();
  startPreview();
  loadSettings();
}

takeTokenFromLink();
wire();
requestAnimationFrame(drawMeter);
start();
