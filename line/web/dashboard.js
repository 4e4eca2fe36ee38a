// The line dashboard: every view is drawn from the server's JSON. Paths are relative, so the
// page also works behind a reverse proxy under a sub-path. Text from the records is only ever
// set as text, never as HTML: a station or a reason may hold anything.
'use strict';

const TEXTS = {
  en: {
    title: 'ZemTabulo line', wall: 'Live wall', yield: 'Yield', files: 'Data files',
    failures: 'Failures', search: 'Search', day: 'Day',
    wallNote: "Each slot's last record; a station silent for 10 minutes is marked.",
    yieldTitle: 'Yield per station and hour', filesTitle: 'Data files (by SHA-256)',
    failuresTitle: 'Failures by step and reason', station: 'Station', port: 'Port',
    show: 'Show', from: 'From', to: 'To', result: 'Result', any: 'any', dataFile: 'Data file',
    reason: 'Reason', find: 'Find', csv: 'CSV', more: 'More', silent: 'silent', unit: 'Unit', waiting: 'records waiting',
    lastRecord: 'last record', ago: 'ago', hour: 'Hour', total: 'Total', ok: 'OK',
    yieldPct: 'Yield %', firstPassPct: 'First-pass %', sha: 'SHA-256', first: 'First', last: 'Last', step: 'Step',
    count: 'Count', cumulative: 'Cumulative %', failed: 'Failed', time: 'Time',
    seconds: 'Seconds', device: 'Device', noRecords: 'No records.', updated: 'updated',
    error: 'Could not load', s: 's', min: 'min', h: 'h', d: 'd', other: '(none)',
  },
  ja: {
    title: 'ZemTabulo ライン', wall: 'ライブ状況', yield: '歩留まり', files: 'データファイル',
    failures: '不良', search: '検索', day: '日付',
    wallNote: '各スロットの最新の記録。10分間記録のないステーションには印が付きます。',
    yieldTitle: 'ステーション・時間ごとの歩留まり', filesTitle: 'データファイル（SHA-256別）',
    failuresTitle: '工程・理由別の不良', station: 'ステーション', port: 'ポート',
    show: '表示', from: '開始', to: '終了', result: '結果', any: 'すべて', dataFile: 'データファイル',
    reason: '理由', find: '検索', csv: 'CSV', more: 'さらに表示', silent: '無通信', unit: '製造番号', waiting: '送信待ち',
    lastRecord: '最終記録', ago: '前', hour: '時', total: '合計', ok: 'OK',
    yieldPct: '歩留まり %', firstPassPct: '一回目良品率 %', sha: 'SHA-256', first: '最初', last: '最後', step: '工程',
    count: '件数', cumulative: '累積 %', failed: '不良', time: '時刻',
    seconds: '秒数', device: 'デバイス', noRecords: '記録がありません。', updated: '更新',
    error: '読み込めません', s: '秒', min: '分', h: '時間', d: '日', other: '（なし）',
  },
};
const LANG = (navigator.language || 'en').toLowerCase().startsWith('ja') ? 'ja' : 'en';
const t = (key) => TEXTS[LANG][key] || TEXTS.en[key] || key;
const ZONE = Intl.DateTimeFormat().resolvedOptions().timeZone || 'UTC';
const WALL_REFRESH_MS = 15000;
const charts = {};
// Chart.js 3 draws every data set in one grey unless told.
const PALETTE = ['#1f77b4', '#d62728', '#2ca02c', '#ff7f0e', '#9467bd', '#8c564b', '#e377c2', '#17becf', '#7f7f7f', '#bcbd22'];
const colour = (i) => PALETTE[i % PALETTE.length];

function el(tag, attrs, ...children) {
  const node = document.createElement(tag);
  for (const [k, v] of Object.entries(attrs || {})) {
    if (k === 'class') node.className = v;
    else if (k.startsWith('data-')) node.setAttribute(k, v);
    else node[k] = v;
  }
  for (const c of children) node.append(c instanceof Node ? c : String(c ?? ''));
  return node;
}

const num = (v, attrs) => el('td', Object.assign({ class: 'n' }, attrs), v);
const pct = (ok, total) => (total ? (100 * ok / total).toFixed(1) : '–');
const localTime = (iso) => (iso ? new Date(iso).toLocaleString(LANG) : '');
const resultClass = (r) => (r === 'ok' ? 'r-ok' : 'r-bad');

function age(seconds) {
  const s = Math.max(0, Math.round(seconds));
  if (s < 120) return `${s} ${t('s')}`;
  if (s < 7200) return `${Math.round(s / 60)} ${t('min')}`;
  if (s < 172800) return `${Math.round(s / 3600)} ${t('h')}`;
  return `${Math.round(s / 86400)} ${t('d')}`;
}

function table(id, headers, rows) {
  const node = document.getElementById(id);
  node.replaceChildren(el('thead', {}, el('tr', {}, ...headers.map((h) => el('th', {}, t(h))))),
    el('tbody', {}, ...rows));
  if (!rows.length) node.tBodies[0].append(el('tr', {}, el('td', { colSpan: headers.length }, t('noRecords'))));
}

async function getJson(path, params) {
  const query = new URLSearchParams();
  for (const [k, v] of Object.entries(params || {})) if (v) query.set(k, v);
  const text = query.toString();
  const res = await fetch(`api/v1/${path}${text ? `?${text}` : ''}`);
  const body = await res.json();
  if (!res.ok) throw new Error(body.error || res.statusText);
  return body;
}

function showError(sectionId, err) {
  const section = document.getElementById(sectionId);
  section.querySelector('.error')?.remove();
  section.append(el('p', { class: 'error' }, `${t('error')}: ${err.message}`));
}

function chart(id, config) {
  charts[id]?.destroy();
  if (typeof Chart === 'undefined') return;
  config.options = Object.assign({ animation: false, maintainAspectRatio: false }, config.options);
  charts[id] = new Chart(document.getElementById(id), config);
}

// --- Live wall ----------------------------------------------------------------------------
function slotRow(station, slot) {
  const row = el('tr', { class: 'slot', 'data-station': station, 'data-port': slot.port, 'data-result': slot.result },
    el('td', {}, slot.port), el('td', { class: resultClass(slot.result) }, slot.result),
    el('td', { class: 'n', title: localTime(slot.time_utc) }, age(slot.age_s)),
    el('td', { title: slot.data_file }, slot.data_file.split(/[\\/]/).pop()),
    el('td', {}, [slot.step, slot.reason].filter(Boolean).join(': ')));
  row.addEventListener('click', () => showHistory(station, slot.port));
  return row;
}

async function loadWall() {
  try {
    const data = await getJson('stations');
    const cards = data.stations.map((s) => el('div', { class: s.silent ? 'card silent' : 'card', 'data-station': s.station },
      el('h3', {}, el('span', {}, s.station),
        el('span', {}, s.silent ? el('span', { class: 'badge' }, t('silent')) : '',
          s.waiting > 0 ? el('span', { class: 'badge waiting', 'data-waiting': s.waiting }, `${t('waiting')} ${s.waiting}`) : '',
          ` ${t('lastRecord')} ${age(s.age_s)} ${t('ago')}`)),
      el('table', {}, el('tbody', {}, ...s.slots.map((slot) => slotRow(s.station, slot))))));
    document.getElementById('stations').replaceChildren(...cards);
    document.getElementById('wall-time').textContent = `${t('updated')} ${localTime(data.now)}`;
  } catch (err) { showError('wall', err); }
}

// --- Yield and files ----------------------------------------------------------------------
async function loadYield(day) {
  try {
    const data = await getJson('yield', { day, tz: ZONE });
    const hours = [...new Set(data.stations.flatMap((s) => s.hours.map((h) => h.hour)))].sort((a, b) => a - b);
    chart('yield-chart', {
      type: 'line',
      data: {
        labels: hours.map((h) => `${h}:00`),
        datasets: data.stations.map((s, i) => ({
          label: s.station, spanGaps: true, borderColor: colour(i), backgroundColor: colour(i),
          data: hours.map((h) => { const x = s.hours.find((y) => y.hour === h); return x ? 100 * x.ok / x.total : null; }),
        })),
      },
      options: { scales: { y: { min: 0, max: 100, title: { display: true, text: t('yieldPct') } } } },
    });
    const rows = data.stations.map((s) => el('tr', { 'data-station': s.station, 'data-ok': s.ok, 'data-total': s.total },
      el('th', {}, s.station),
      ...hours.map((h) => {
        const x = s.hours.find((y) => y.hour === h);
        return x ? num(`${x.ok}/${x.total}`, { 'data-hour': h, 'data-ok': x.ok, 'data-total': x.total }) : num('');
      }),
      num(`${s.ok}/${s.total}`), num(pct(s.ok, s.total)),
      num(pct(s.first_pass_ok, s.devices), { 'data-first-ok': s.first_pass_ok, 'data-devices': s.devices })));
    table('yield-table', ['station', ...hours.map((h) => `${h}:00`), 'total', 'yieldPct', 'firstPassPct'], rows);
  } catch (err) { showError('yield', err); }
}

async function loadFiles(day) {
  try {
    const data = await getJson('files', { day, tz: ZONE });
    table('files-table', ['dataFile', 'sha', 'ok', 'total', 'yieldPct', 'first', 'last'],
      data.files.map((f) => el('tr', { 'data-sha': f.data_sha256, 'data-ok': f.ok, 'data-total': f.total },
        el('td', { title: f.data_file }, f.data_file.split(/[\\/]/).pop()),
        el('td', { title: f.data_sha256 }, f.data_sha256.slice(0, 12)),
        num(f.ok), num(f.total), num(pct(f.ok, f.total)), el('td', {}, localTime(f.first)), el('td', {}, localTime(f.last)))));
  } catch (err) { showError('files', err); }
}

// --- Failures -----------------------------------------------------------------------------
async function loadFailures(day) {
  const filter = new FormData(document.getElementById('failure-filter'));
  try {
    const data = await getJson('failures', { day, tz: ZONE, station: filter.get('station'), port: filter.get('port') });
    const label = (c) => [c.step || '-', c.reason || t('other')].join(': ');
    chart('pareto-chart', {
      type: 'bar',
      data: {
        labels: data.causes.map(label),
        datasets: [
          { label: t('count'), data: data.causes.map((c) => c.count), yAxisID: 'y', order: 2, backgroundColor: colour(1) },
          { label: t('cumulative'), type: 'line', data: data.causes.map((c) => 100 * c.cumulative), yAxisID: 'p', order: 1, borderColor: colour(0), backgroundColor: colour(0) },
        ],
      },
      options: { scales: { y: { beginAtZero: true }, p: { position: 'right', min: 0, max: 100 } } },
    });
    table('causes-table', ['step', 'reason', 'count', 'cumulative'], data.causes.map((c) =>
      el('tr', { 'data-step': c.step, 'data-reason': c.reason, 'data-count': c.count },
        el('td', {}, c.step), el('td', {}, c.reason), num(c.count), num((100 * c.cumulative).toFixed(1)))));
    table('slots-table', ['station', 'port', 'failed', 'total', 'yieldPct'], data.slots.map((s) =>
      el('tr', { 'data-station': s.station, 'data-port': s.port, 'data-failed': s.failed, 'data-total': s.total },
        el('td', {}, s.station), el('td', {}, s.port), num(s.failed), num(s.total), num(pct(s.total - s.failed, s.total)))));
  } catch (err) { showError('failures', err); }
}

// --- Search -------------------------------------------------------------------------------
let nextPage = null;

function searchParams() {
  const form = new FormData(document.getElementById('search-form'));
  const params = {};
  for (const [k, v] of form.entries()) {
    if (!v) continue;
    // datetime-local is the browser's local time; the server wants an instant.
    params[k] = k === 'from' || k === 'to' ? new Date(v).toISOString() : v;
  }
  // A unit's history is every day's: its records are found by their own index, not the day's.
  if (params.unit) { delete params.from; delete params.to; }
  return params;
}

async function search(more) {
  const params = searchParams();
  document.getElementById('csv-link').href = `api/v1/records.csv?${new URLSearchParams(params)}`;
  if (more) params.before = nextPage;
  try {
    const data = await getJson('records', Object.assign({ limit: 100 }, params));
    const rows = data.records.map((r) => el('tr', { 'data-id': r.id },
      el('td', {}, localTime(r.time_utc)), el('td', {}, r.station), el('td', {}, r.port), el('td', {}, r.unit || ''),
      el('td', { class: resultClass(r.result) }, r.result), el('td', { title: r.data_file }, r.data_file.split(/[\\/]/).pop()),
      el('td', {}, r.step), el('td', {}, r.reason), num(r.seconds.toFixed(1)), el('td', {}, r.device)));
    if (more) document.querySelector('#records-table tbody').append(...rows);
    else table('records-table', ['time', 'station', 'port', 'unit', 'result', 'dataFile', 'step', 'reason', 'seconds', 'device'], rows);
    nextPage = data.next;
    document.getElementById('more').hidden = !nextPage;
  } catch (err) { showError('search', err); }
}

// A slot's history: the search for its station and port, newest first.
function showHistory(station, port) {
  const form = document.getElementById('search-form');
  form.reset();
  form.elements.station.value = station;
  form.elements.port.value = port;
  search(false);
  document.getElementById('search').scrollIntoView();
}

// --- Start --------------------------------------------------------------------------------
function todayLocal() {
  const d = new Date();
  return `${d.getFullYear()}-${String(d.getMonth() + 1).padStart(2, '0')}-${String(d.getDate()).padStart(2, '0')}`;
}

// The search starts on the chosen day: a filter with no index of its own (a reason, a part
// of a name) then reads one day's records, not every record kept.
function searchTheDay(day) {
  const form = document.getElementById('search-form');
  const next = new Date(`${day}T00:00`);
  next.setDate(next.getDate() + 1);
  const local = (d) => `${d.getFullYear()}-${String(d.getMonth() + 1).padStart(2, '0')}-${String(d.getDate()).padStart(2, '0')}T00:00`;
  form.elements.from.value = `${day}T00:00`;
  form.elements.to.value = local(next);
}

function loadDay() {
  const day = document.getElementById('day').value;
  searchTheDay(day);
  return Promise.all([loadYield(day), loadFiles(day), loadFailures(day)]);
}

function start() {
  document.documentElement.lang = LANG;
  document.title = t('title');
  for (const node of document.querySelectorAll('[data-t]')) node.textContent = t(node.dataset.t);
  document.getElementById('zone').textContent = ZONE;
  const dayInput = document.getElementById('day');
  dayInput.value = new URLSearchParams(location.search).get('day') || todayLocal();
  dayInput.addEventListener('change', () => { loadDay(); search(false); });
  document.getElementById('failure-filter').addEventListener('submit', (e) => { e.preventDefault(); loadFailures(dayInput.value); });
  document.getElementById('search-form').addEventListener('submit', (e) => { e.preventDefault(); search(false); });
  document.getElementById('more').addEventListener('click', () => search(true));
  setInterval(loadWall, WALL_REFRESH_MS);
  // Everything the first view shows is in once this settles; the browser test waits for it.
  window.dashboardReady = Promise.all([loadWall(), loadDay(), search(false)]).then(() => {
    document.body.dataset.loadedMs = Math.round(performance.now());
  });
}

document.addEventListener('DOMContentLoaded', start);
