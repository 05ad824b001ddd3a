// The page orlin_fleet serves: plain HTML, one script, one style sheet, no
// build step and nothing fetched from elsewhere. Every text that comes from
// a peer (names, states, error texts, file names) reaches the page through
// textContent or a form control's value, never as markup.
#include "FleetServer.h"

namespace fleet {

const char* const kPageHtml = R"HTML(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Orlin fleet</title>
<link rel="stylesheet" href="/fleet.css">
<script src="/fleet.js" defer></script>
</head>
<body>
<header>
  <h1>Orlin fleet</h1>
  <span id="summary">loading</span>
  <span id="link" class="link-down">connecting</span>
</header>
<main>
  <section id="cards" aria-label="printers"></section>
  <p id="empty">No printer has reported yet.</p>
  <section>
    <h2>Recent task-status updates</h2>
    <table id="updates">
      <thead><tr><th>time</th><th>printer</th><th>task</th><th>status</th></tr></thead>
      <tbody></tbody>
    </table>
  </section>
  <section>
    <h2>File transfers</h2>
    <table id="transfers">
      <thead><tr><th>started</th><th>from</th><th>to</th><th>file</th><th>size</th><th>chunks</th><th>result</th></tr></thead>
      <tbody></tbody>
    </table>
  </section>
  <section>
    <h2>Other clients</h2>
    <ul id="clients"></ul>
  </section>
</main>
</body>
</html>
)HTML";

const char* const kPageCss = R"CSS(body { font: 14px/1.4 system-ui, sans-serif; margin: 0; background: #f3f4f6; color: #111; }
header { display: flex; gap: 1.5em; align-items: baseline; padding: .6em 1em; background: #1f2937; color: #fff; }
header h1 { font-size: 1.2em; margin: 0; }
main { padding: 1em; }
#cards { display: grid; grid-template-columns: repeat(auto-fill, minmax(240px, 1fr)); gap: .8em; }
.card { background: #fff; border-radius: 6px; padding: .7em .9em; border-left: 6px solid #9ca3af; box-shadow: 0 1px 2px #0002; }
.card h3 { margin: 0 0 .3em; font-size: 1em; overflow-wrap: anywhere; }
.card.printing { border-left-color: #2563eb; }
.card.idle { border-left-color: #16a34a; }
.card.offline { border-left-color: #9ca3af; opacity: .65; }
.card.has-errors { border-left-color: #dc2626; }
.state { font-weight: 600; text-transform: uppercase; font-size: .8em; letter-spacing: .05em; }
.card progress { width: 100%; height: 1em; }
.card dl { display: grid; grid-template-columns: auto 1fr; gap: 0 .6em; margin: .3em 0 0; font-size: .9em; }
.card dt { color: #6b7280; }
.card dd { margin: 0; overflow-wrap: anywhere; }
.errors { color: #b91c1c; margin: .3em 0 0; padding-left: 1.1em; font-size: .9em; overflow-wrap: anywhere; }
table { border-collapse: collapse; background: #fff; min-width: 50%; }
th, td { text-align: left; padding: .2em .6em; border-bottom: 1px solid #e5e7eb; overflow-wrap: anywhere; }
.link-up { color: #86efac; }
.link-down { color: #fca5a5; }
#empty[hidden] { display: none; }
)CSS";

const char* const kPageJs = R"JS('use strict';
(function () {
  const printers = new Map();   // id -> {data, el: {...}}
  let skew = 0;                 // server clock minus ours, ms
  let source = null;

  function el(tag, cls, text) {
    const e = document.createElement(tag);
    if (cls) e.className = cls;
    if (text !== undefined) e.textContent = String(text);
    return e;
  }
  function now() { return Date.now() + skew; }
  function ago(ms) {
    if (ms === null || ms === undefined) return 'never';
    const s = Math.max(0, Math.round((now() - ms) / 1000));
    if (s < 60) return s + ' s ago';
    if (s < 3600) return Math.floor(s / 60) + ' min ago';
    return Math.floor(s / 3600) + ' h ago';
  }
  function clock(ms) { return new Date(ms).toLocaleTimeString(); }
  const taskStates = {0: 'waiting', 1: 'printing', 2: 'printed'};

  function field(dl, label) {
    dl.appendChild(el('dt', '', label));
    const dd = el('dd');
    dl.appendChild(dd);
    return dd;
  }

  function makeCard(id) {
    const card = el('article', 'card');
    const name = el('h3', '', id);
    const state = el('span', 'state');
    const bar = el('progress');
    bar.max = 100;
    const pct = el('span', 'pct');
    const dl = el('dl');
    const c = {card, name, state, bar, pct,
      task: field(dl, 'task'), copies: field(dl, 'copies'), area: field(dl, 'printed'),
      remain: field(dl, 'remaining'), seen: field(dl, 'last seen'),
      heartbeat: field(dl, 'heartbeat'), report: field(dl, 'report')};
    c.errors = el('ul', 'errors');
    card.append(name, state, bar, pct, dl, c.errors);
    return c;
  }

  function sortCards() {
    const box = document.getElementById('cards');
    const ids = Array.from(printers.keys()).sort();
    ids.forEach(function (id) { box.appendChild(printers.get(id).el.card); });
  }

  function render(p) {
    const c = p.el, d = p.data;
    const printing = d.state === 'printing';
    c.card.className = 'card ' + (d.state === 'printing' || d.state === 'idle' || d.state === 'offline' ? d.state : 'other')
      + (d.errors.length ? ' has-errors' : '');
    c.state.textContent = d.state;
    c.bar.value = printing ? d.progress : 0;
    c.pct.textContent = printing ? ' ' + d.progress + '%' : '';
    c.task.textContent = d.task_id ? (printing ? 'task ' : 'last task ') + d.task_id : '-';
    c.copies.textContent = d.total_copies ? d.done_copies + ' / ' + d.total_copies : '-';
    c.area.textContent = d.printed_area || '-';
    c.remain.textContent = printing ? d.remain_s + ' s' : '-';
    c.errors.textContent = '';
    d.errors.forEach(function (e) { c.errors.appendChild(el('li', '', e.code + ': ' + e.msg)); });
    renderTimes(p);
  }
  function renderTimes(p) {
    p.el.seen.textContent = ago(p.data.last_seen_ms);
    p.el.heartbeat.textContent = ago(p.data.last_heartbeat_ms);
    p.el.report.textContent = ago(p.data.last_report_ms);
  }

  function upsert(d) {
    if (!d.heartbeats && !d.reports) {
      clients.set(d.id, d.online);
      renderClients();
      return;
    }
    clients.delete(d.id);
    let p = printers.get(d.id);
    if (!p) {
      p = {data: d, el: makeCard(d.id)};
      printers.set(d.id, p);
      sortCards();
    }
    p.data = d;
    render(p);
  }

  function summary() {
    let online = 0, printing = 0, errors = 0;
    printers.forEach(function (p) {
      if (p.data.online) online++;
      if (p.data.state === 'printing') printing++;
      if (p.data.errors.length) errors++;
    });
    document.getElementById('summary').textContent = printers.size + ' printers, ' + online + ' online, '
      + printing + ' printing, ' + errors + ' with errors';
    document.getElementById('empty').hidden = printers.size > 0;
  }

  function addUpdate(u) {
    const body = document.querySelector('#updates tbody');
    const tr = el('tr');
    tr.append(el('td', '', clock(u.at_ms)), el('td', '', u.printer), el('td', '', u.id),
      el('td', '', u.status + (taskStates[u.status] ? ' (' + taskStates[u.status] + ')' : '')));
    body.insertBefore(tr, body.firstChild);
    while (body.rows.length > 50) body.deleteRow(body.rows.length - 1);
  }

  // Reply codes 5 and 6 answer a query ("not held", "partly held").
  function failed(code) { return code > 0 && code !== 5 && code !== 6; }
  const transferRows = new Map();
  function transferKey(t) { return JSON.stringify([t.start_ms, t.from, t.to, t.file]); }
  function setTransfer(t) {
    const key = transferKey(t);
    let tr = transferRows.get(key);
    const body = document.querySelector('#transfers tbody');
    if (!tr) {
      tr = el('tr');
      for (let i = 0; i < 7; i++) tr.appendChild(el('td'));
      transferRows.set(key, tr);
      body.insertBefore(tr, body.firstChild);
      while (body.rows.length > 50) {
        const last = body.rows[body.rows.length - 1];
        transferRows.forEach(function (v, k) { if (v === last) transferRows.delete(k); });
        body.deleteRow(body.rows.length - 1);
      }
    }
    const cells = [clock(t.start_ms), t.from, t.to, t.file, t.size + ' B', t.chunks_seen + ' / ' + t.total_chunks,
      t.complete ? 'complete' : (failed(t.last_code) ? 'code ' + t.last_code : t.replies_ok + ' acknowledged')];
    cells.forEach(function (v, i) { tr.cells[i].textContent = String(v); });
  }

  // Clients that never sent a heartbeat or a report: consoles, services.
  const clients = new Map();
  function setClients(list) {
    clients.clear();
    list.forEach(function (c) { clients.set(c.id, c.online); });
    renderClients();
  }
  function renderClients() {
    const ul = document.getElementById('clients');
    ul.textContent = '';
    Array.from(clients.keys()).sort().forEach(function (id) {
      ul.appendChild(el('li', '', id + (clients.get(id) ? ' (online)' : ' (offline)')));
    });
  }

  function link(up) {
    const s = document.getElementById('link');
    s.textContent = up ? 'live' : 'reconnecting';
    s.className = up ? 'link-up' : 'link-down';
  }

  function load() {
    fetch('/api/fleet', {cache: 'no-store'}).then(function (r) { return r.json(); }).then(function (f) {
      skew = f.now_ms - Date.now();
      printers.forEach(function (p) { p.el.card.remove(); });
      printers.clear();
      f.printers.forEach(upsert);
      document.querySelector('#updates tbody').textContent = '';
      f.task_updates.forEach(addUpdate);
      document.querySelector('#transfers tbody').textContent = '';
      transferRows.clear();
      f.transfers.forEach(setTransfer);
      setClients(f.clients);
      summary();
      listen(f.seq);
    }).catch(function () { link(false); setTimeout(load, 1000); });
  }

  function listen(seq) {
    if (source) source.close();
    source = new EventSource('/api/events?since=' + encodeURIComponent(seq));
    source.onopen = function () { link(true); };
    source.onerror = function () { link(false); };
    source.addEventListener('printer', function (e) { upsert(JSON.parse(e.data)); summary(); });
    source.addEventListener('task_status', function (e) { addUpdate(JSON.parse(e.data)); });
    source.addEventListener('transfer', function (e) { setTransfer(JSON.parse(e.data)); });
    source.addEventListener('reset', function () { load(); });
  }

  setInterval(function () { printers.forEach(renderTimes); }, 1000);
  load();
})();
)JS";

} // namespace fleet
