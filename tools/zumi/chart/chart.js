// zumi chart's page: draws the part of the sequence diagram that is in view,
// at the chosen scale, from the columns of operations in #chart-data. Past
// MOST operations in view it draws how many start in each few pixels instead,
// and says so. Nothing is fetched: the page works offline.
"use strict";
(function () {
  const D = JSON.parse(document.getElementById("chart-data").textContent);
  const GUTTER = 80, TOP = 54, LABEL_GAP = 12, BIN = 4, MOST = 1500, MARGIN = 400;
  // Lifelines share the pane's width, within these.
  const NARROWEST = 150, WIDEST = 320;
  const KINDS = ["get", "set", "list", "event", "service-up", "service-down"];
  const CLASSES = ["get", "set", "list", "event", "up", "down"];
  const TYPES = ["int", "string", "hash"];
  const SVGNS = "http://www.w3.org/2000/svg";
  const spoofed = new Set(D.sp);
  const count = D.k.length;
  const scroller = document.getElementById("scroller");
  const spacer = document.getElementById("spacer");
  const svg = document.getElementById("diagram");
  const note = document.getElementById("note");
  const tip = document.getElementById("tip");
  const recordText = document.getElementById("record-text");
  const perProcess = document.getElementById("per-process");
  const measure = document.createElement("canvas").getContext("2d");
  measure.font = "11px sans-serif";
  // The lifelines drawn: names, and the lifeline of each party.
  let view = { lanes: D.lanes, at: D.at };
  let lane = NARROWEST; // a lifeline's width
  let pps = D.pps;
  let shown = [];       // indices of the operations that pass the filters, by start
  let longest = 0;      // the longest call shown, in microseconds
  let chosen = -1;
  let binned = null;    // the counts drawn, by "column:row", while they are
  let pending = false;

  const str = (i) => (i >= 0 ? D.strings[i] : "");
  const yOf = (us) => TOP + ((us / 1e6) - D.first) * pps;
  const timeAt = (y) => ((y - TOP) / pps + D.first) * 1e6;
  const xOf = (party) => GUTTER + lane * (view.at[party] + 0.5);
  const origin = (i) => (spoofed.has(i) && D.f[i] >= 0 ? D.f[i] : D.o[i]);

  function seconds(s) {
    const a = Math.abs(s);
    if (a >= 1 || a === 0) return s.toFixed(3) + " s";
    if (a >= 0.001) return +(s * 1e3).toPrecision(3) + " ms";
    return +(s * 1e6).toPrecision(3) + " µs";
  }

  // The operation as its line of the recording has it.
  function record(i) {
    const kind = KINDS[D.k[i]], r = { t: D.e[i] / 1e6, op: kind, caller: str(D.c[i]) };
    if (D.pid[i]) r.pid = D.pid[i];
    if (kind === "event") {
      Object.assign(r, { source: D.parties[D.o[i]], event: str(D.n[i]), ints: D.v[i][0], strings: D.v[i][1],
                         spoofed: spoofed.has(i) });
      return r;
    }
    r.service = D.parties[D.o[i]];
    if (kind === "service-up" || kind === "service-down") return r;
    if (kind !== "list") Object.assign(r, { property: str(D.n[i]), type: TYPES[D.ty[i]] });
    if (D.v[i] !== null) r.value = D.v[i];
    if (D.r[i] !== undefined) r.reply = D.r[i];
    r.status = D.st[i];
    r.error = D.errors[D.st[i]];
    if (D.d[i] >= 0) r.latency_ms = D.d[i] / 1000;
    return r;
  }

  function make(parent, name, attributes, text) {
    const node = document.createElementNS(SVGNS, name);
    for (const key in attributes) node.setAttribute(key, attributes[key]);
    if (text !== undefined) node.textContent = text;
    parent.appendChild(node);
    return node;
  }

  function filter() {
    const service = document.getElementById("filter-service").value;
    const property = document.getElementById("filter-property").value;
    const event = document.getElementById("filter-event").value;
    shown = [];
    longest = 0;
    for (let i = 0; i < count; i++) {
      const kind = D.k[i];
      if (service && D.parties[D.o[i]] !== service) continue;
      if (property || event) {
        const wanted = kind === 3 ? event : kind <= 1 ? property : "";
        if (!wanted || str(D.n[i]) !== wanted) continue;
      }
      shown.push(i);
      if (D.d[i] > longest) longest = D.d[i];
    }
    for (const row of document.querySelectorAll("tr[data-service]")) {
      const isEvent = row.dataset.event !== undefined;
      let keep = !service || row.dataset.service === service;
      if (property || event) keep = keep && (isEvent ? row.dataset.event === event : row.dataset.property === property);
      row.classList.toggle("filtered-out", !keep);
    }
    draw();
  }

  // The first shown operation that starts at or after `us`.
  function firstFrom(us) {
    let low = 0, high = shown.length;
    while (low < high) {
      const mid = (low + high) >> 1;
      if (D.s[shown[mid]] < us) low = mid + 1; else high = mid;
    }
    return low;
  }

  function schedule() {
    if (pending) return;
    pending = true;
    requestAnimationFrame(() => { pending = false; draw(); });
  }

  // The scrolled area for the scale and the lifelines; its height.
  function size() {
    const lanes = Math.max(1, view.lanes.length);
    lane = Math.max(NARROWEST, Math.min(WIDEST, (scroller.clientWidth - GUTTER - 10) / lanes));
    const height = TOP + (D.last - D.first) * pps + 40;
    spacer.style.height = height + "px";
    spacer.style.width = GUTTER + lane * lanes + "px";
    return height;
  }

  // The whole recording in the window; kept so as the window changes, until
  // zoomed.
  let fitted = false;
  function fit() {
    fitted = true;
    pps = Math.max(1e-6, (scroller.clientHeight - TOP - 60) / Math.max(1e-6, D.last - D.first));
    scroller.scrollTop = 0;
  }

  function draw() {
    const height = size(), width = GUTTER + lane * Math.max(1, view.lanes.length);
    const top = Math.max(0, scroller.scrollTop - MARGIN), bottom = scroller.scrollTop + scroller.clientHeight + MARGIN;
    svg.setAttribute("width", width);
    svg.setAttribute("height", bottom - top);
    svg.style.top = top + "px";
    svg.replaceChildren();
    const g = make(svg, "g", { transform: "translate(0," + -top + ")" });
    axis(g, top, bottom);
    lanes(g, top, Math.min(bottom, height));
    const from = firstFrom(timeAt(top) - longest), to = firstFrom(timeAt(bottom));
    const inView = to - from;
    binned = null;
    document.getElementById("scale").textContent = seconds(100 / pps) + " per 100 px";
    if (inView > MOST) {
      note.textContent = inView.toLocaleString("en") + " operations in view: too many to draw one by one, so each " +
        "lifeline shows how many start in each " + BIN + " px of time (red: refused or spoofed). Zoom in to see " +
        "each arrow.";
      bins(g, from, to, top);
    } else {
      note.textContent = shown.length < count ? (count - shown.length).toLocaleString("en") +
        " operations hidden by the filters." : "";
      let lastLabel = -1e9;
      for (let n = from; n < to; n++) {
        lastLabel = item(g, shown[n], lastLabel, n + 1 < shown.length ? shown[n + 1] : -1);
      }
    }
    header(g, scroller.scrollTop);
  }

  function axis(g, top, bottom) {
    let step = 1e-6;
    for (const m of [1, 2, 5, 10, 20, 50, 100, 200, 500, 1e3, 2e3, 5e3, 1e4, 2e4, 5e4, 1e5, 2e5, 5e5, 1e6, 2e6,
                     5e6, 1e7, 6e7, 3e8, 6e8, 3.6e9, 3.6e10]) {
      step = m / 1e6;
      if (step * pps >= 60) break;
    }
    const first = Math.ceil((timeAt(top) / 1e6) / step) * step;
    for (let t = first; t * 1e6 <= timeAt(bottom) && t <= D.last + 1e-9; t += step) {
      const y = yOf(t * 1e6), tick = make(g, "g", { class: "tick" });
      make(tick, "line", { x1: GUTTER - 6, x2: GUTTER, y1: y, y2: y });
      make(tick, "text", { x: GUTTER - 8, y: y + 4, "text-anchor": "end" }, seconds(Math.round(t * 1e6) / 1e6));
    }
  }

  const laneX = (column) => GUTTER + lane * (column + 0.5);

  function lanes(g, top, bottom) {
    view.lanes.forEach((name, i) => {
      make(make(g, "g", { class: "lane" }), "line", { x1: laneX(i), x2: laneX(i), y1: Math.max(top, TOP - 6), y2: bottom });
    });
  }

  // The lifelines' names stay in view at the top.
  function header(g, y) {
    make(g, "rect", { class: "page", x: 0, y: y, width: GUTTER + lane * view.lanes.length, height: 34 });
    const most = Math.max(8, Math.floor((lane - 16) / 7.5));
    // A shared lifeline keeps its program and its count.
    const short = (name) => {
      if (name.length <= most) return name;
      const shared = /^(.*) \((\d+) (processes|connections)\)$/.exec(name);
      if (!shared) return "…" + name.slice(1 - most);
      const count = " (" + shared[2] + ")";
      return shared[1].length + count.length <= most ? shared[1] + count
        : shared[1].slice(0, Math.max(1, most - count.length - 1)) + "…" + count;
    };
    view.lanes.forEach((name, i) => {
      const group = make(g, "g", { class: "lane" });
      make(group, "title", {}, name);
      make(group, "rect", { x: laneX(i) - lane / 2 + 6, y: y + 8, width: lane - 12, height: 20, rx: 4 });
      make(group, "text", { x: laneX(i), y: y + 22, "text-anchor": "middle" },
           short(name));
    });
  }

  const alarming = (i) => D.st[i] !== 0 || spoofed.has(i);

  // Where labels would overlap, the arrow stays and its record is a point
  // away. A refusal's label is always shown, below the one before and its
  // arrow if need be, and the label just before it gives way. A label starts at `left`,
  // else ends at `otherRight`, whichever keeps it in the diagram, else as
  // near `left` as fits. `next`: the operation after, -1 for none.
  function label(group, i, y, left, otherRight, lastLabel, next) {
    if (!alarming(i) && next >= 0 && alarming(next) && yOf(D.s[next]) - y < LABEL_GAP) return lastLabel;
    if (y - lastLabel < LABEL_GAP) {
      if (!alarming(i)) return lastLabel;
      y = Math.max(lastLabel + LABEL_GAP, y + 15); // wholly below its arrow
    }
    const width = measure.measureText(D.l[i]).width, high = GUTTER + lane * view.lanes.length - 4;
    let x = left;
    if (left < GUTTER || left + width > high) {
      x = otherRight - width >= GUTTER && otherRight <= high ? otherRight - width
        : Math.max(GUTTER, Math.min(left, high - width));
    }
    make(group, "text", { x: x, y: y }, D.l[i]);
    return y;
  }

  function item(g, i, lastLabel, next) {
    const kind = D.k[i];
    let cls = "op " + CLASSES[kind];
    if (D.st[i] !== 0) cls += " refused";
    if (spoofed.has(i)) cls += " spoofed";
    if (i === chosen) cls += " chosen";
    const group = make(g, "g", { class: cls, "data-i": i });
    const top = yOf(D.s[i]), bottom = Math.max(yOf(D.e[i]), top + 2);
    if (kind === 3) {
      const ox = xOf(origin(i));
      make(group, "line", { class: "broadcast", x1: laneX(0), x2: laneX(view.lanes.length - 1), y1: top, y2: top });
      make(group, "circle", { cx: ox, cy: top, r: 4 });
      return label(group, i, top - 3, ox + 7, ox - 7, lastLabel, next);
    }
    if (kind >= 4) {
      const sx = xOf(D.o[i]);
      make(group, "rect", { x: sx - 5, y: top - 5, width: 10, height: 10 });
      // "up" and "down" give way to what the service then does.
      if (next >= 0 && yOf(D.s[next]) - top < LABEL_GAP) return lastLabel;
      return label(group, i, top + 4, sx + 8, sx - 8, lastLabel, next);
    }
    const from = xOf(D.f[i]), to = xOf(D.o[i]), direction = to >= from ? 1 : -1;
    make(group, "rect", { class: "active", x: to - 3, y: top, width: 6, height: bottom - top });
    if (from === to) {
      make(group, "path", { d: "M" + from + "," + top + " h30 v" + (bottom - top + 4) + " h-26" });
      return label(group, i, top - 3, from + 36, from - 6, lastLabel, next);
    }
    const tip = to - direction * 3;
    make(group, "line", { x1: from, y1: top, x2: tip, y2: top });
    make(group, "polygon", { points: tip + "," + top + " " + (tip - direction * 8) + "," + (top - 4) + " " +
                                     (tip - direction * 8) + "," + (top + 4) });
    if (bottom - top >= 4) make(group, "line", { class: "reply", x1: to, y1: bottom, x2: from, y2: bottom });
    // Along the arrow, about its middle.
    const half = measure.measureText(D.l[i]).width / 2, middle = (from + to) / 2;
    return label(group, i, top - 3, middle - half, middle + half, lastLabel, next);
  }

  function bins(g, from, to, top) {
    const counts = new Map();
    let most = 1;
    const add = (column, row, i) => {
      const key = column + ":" + row, bin = counts.get(key) || [0, 0];
      bin[0]++;
      if (alarming(i)) bin[1]++;
      counts.set(key, bin);
      most = Math.max(most, bin[0]);
    };
    // On each lifeline that takes part: an event's origin, a call's service
    // and its caller.
    for (let n = from; n < to; n++) {
      const i = shown[n], row = Math.floor((yOf(D.s[i]) - top) / BIN);
      const column = view.at[D.k[i] === 3 ? origin(i) : D.o[i]];
      add(column, row, i);
      if (D.k[i] <= 2 && D.f[i] >= 0 && view.at[D.f[i]] !== column) add(view.at[D.f[i]], row, i);
    }
    // Two paths for them all: thousands of elements would slow each frame.
    // Pointing at one tells its counts (binAt).
    let all = "", refused = "";
    for (const [key, bin] of counts) {
      const [column, row] = key.split(":").map(Number);
      const w = (lane - 20) * bin[0] / most, x = laneX(column) - w / 2, y = top + row * BIN;
      all += "M" + x + "," + y + "h" + w + "v" + BIN + "h" + -w + "z";
      if (bin[1]) refused += "M" + x + "," + y + "h" + w * bin[1] / bin[0] + "v" + BIN + "h" + -w * bin[1] / bin[0] + "z";
    }
    const group = make(g, "g", { class: "bin" });
    make(group, "path", { d: all });
    if (refused) make(group, "path", { class: "refused", d: refused });
    binned = counts;
  }

  // The counts under the pointer, in the view's bins.
  function binAt(event) {
    if (!binned || !event.target.closest || !event.target.closest(".bin")) return "";
    const box = svg.getBoundingClientRect();
    const column = Math.floor((event.clientX - box.left - GUTTER) / lane);
    const bin = binned.get(column + ":" + Math.floor((event.clientY - box.top) / BIN));
    return bin ? bin[0] + " operations (" + bin[1] + " refused or spoofed)" : "";
  }

  // Keeps the time under `y` (in the scroller's view) in place.
  function zoom(factor, y) {
    fitted = false;
    const at = y === undefined ? scroller.clientHeight / 2 : y;
    const t = timeAt(scroller.scrollTop + at);
    pps = Math.min(1e9, Math.max(1e-6, pps * factor));
    size();
    scroller.scrollTop = yOf(t) - at;
    draw();
  }

  function operationAt(event) {
    const group = event.target.closest && event.target.closest("[data-i]");
    return group ? Number(group.dataset.i) : -1;
  }

  scroller.addEventListener("scroll", schedule);
  window.addEventListener("resize", () => { if (fitted) fit(); schedule(); });
  scroller.addEventListener("wheel", (event) => {
    if (!event.ctrlKey) return;
    event.preventDefault();
    zoom(event.deltaY < 0 ? 1.25 : 0.8, event.clientY - scroller.getBoundingClientRect().top);
  }, { passive: false });
  document.addEventListener("keydown", (event) => {
    if (event.target.tagName === "SELECT") return;
    if (event.key === "+" || event.key === "=") zoom(2);
    if (event.key === "-") zoom(0.5);
  });
  document.getElementById("zoom-in").onclick = () => zoom(2);
  document.getElementById("zoom-out").onclick = () => zoom(0.5);
  document.getElementById("zoom-whole").onclick = () => { fit(); draw(); };
  // The other lifelines: one per process, or one per program. A page
  // opened as NAME.html#per-process opens so.
  function regroup() {
    view = perProcess.checked === D.perProcess ? { lanes: D.lanes, at: D.at } : D.other;
    draw();
  }
  if (perProcess) {
    if (location.hash === "#per-process") perProcess.checked = true;
    perProcess.addEventListener("change", regroup);
    if (perProcess.checked !== D.perProcess) view = D.other;
  }
  for (const id of ["filter-service", "filter-property", "filter-event"]) {
    document.getElementById(id).addEventListener("change", filter);
  }
  svg.addEventListener("mousemove", (event) => {
    const i = operationAt(event), counts = i < 0 ? binAt(event) : "";
    if (i < 0 && !counts) { tip.hidden = true; return; }
    tip.textContent = i < 0 ? counts : JSON.stringify(record(i), null, 1);
    tip.hidden = false;
    tip.style.left = Math.min(event.clientX + 14, window.innerWidth - 540) + "px";
    tip.style.top = Math.min(event.clientY + 14, window.innerHeight - tip.offsetHeight - 4) + "px";
  });
  svg.addEventListener("mouseleave", () => { tip.hidden = true; });
  svg.addEventListener("click", (event) => {
    const i = operationAt(event);
    if (i < 0) return;
    chosen = i;
    recordText.textContent = JSON.stringify(record(i), null, 2);
    draw();
  });
  const rates = document.querySelector("svg.rates");
  rates.addEventListener("click", (event) => {
    const plot = rates.querySelector("rect.plot").getBoundingClientRect();
    const share = Math.min(1, Math.max(0, (event.clientX - plot.left) / plot.width));
    const t = D.first + share * (D.last - D.first);
    scroller.scrollTop = yOf(t * 1e6) - scroller.clientHeight / 2;
  });
  if (D.whole) fit();
  filter();
})();
