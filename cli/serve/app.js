// The page of vavizar serve. "/" shows the list of the set's pages, "/page/ID"
// the view of one page. Both fetch their data as JSON and fetch it again when
// the server's event stream says it changed. Every text of a template, a code
// or a message is shown with textContent or a text node, never as markup.
'use strict';

(function () {
  const main = document.getElementById('main');
  const titleBox = document.getElementById('title');
  const liveBox = document.getElementById('live');
  // When this page was loaded: a view that updates itself keeps it.
  window.vzLoadedAt = window.vzLoadedAt || Date.now();

  // An element with attributes (class, text, title, data-*, href) and
  // children (elements, or strings as text nodes).
  function el(tag, attrs, ...children) {
    const e = document.createElement(tag);
    for (const [key, value] of Object.entries(attrs || {})) {
      if (key === 'class') e.className = value;
      else if (key === 'text') e.textContent = value;
      else e.setAttribute(key, value);
    }
    for (const child of children) {
      if (child !== null && child !== undefined) e.append(child);
    }
    return e;
  }

  function clear(node) {
    while (node.firstChild) node.removeChild(node.firstChild);
  }

  // Fetches `load` again whenever `refresh` is called, one fetch at a time.
  function refresher(load) {
    let busy = false;
    let again = false;
    return async function refresh() {
      if (busy) {
        again = true;
        return;
      }
      busy = true;
      try {
        await load();
      } catch (e) {
        showProblem(String(e));
      } finally {
        busy = false;
        if (again) {
          again = false;
          refresh();
        }
      }
    };
  }

  function showProblem(text) {
    let box = document.getElementById('problem');
    if (!box) {
      box = el('div', {id: 'problem', class: 'notice'});
      main.prepend(box);
    }
    box.textContent = text;
  }

  async function getJson(url) {
    const response = await fetch(url, {cache: 'no-store'});
    if (response.status === 404) return null;
    if (!response.ok) throw new Error(url + ': ' + response.status);
    return response.json();
  }

  // The server's events: `onChange(data)` for each change, and once more
  // after the stream was lost and found again (changes may have been missed).
  function listen(onChange) {
    const events = new EventSource('/events');
    let lost = false;
    events.addEventListener('hello', () => {
      liveBox.textContent = 'live';
      liveBox.classList.remove('off');
      if (lost) onChange({pages: ['*'], list: true});
      lost = false;
    });
    events.addEventListener('change', (e) => onChange(JSON.parse(e.data)));
    events.onerror = () => {
      liveBox.textContent = 'reconnecting';
      liveBox.classList.add('off');
      lost = true;
    };
  }

  function plural(n, word) {
    return n + ' ' + word + (n === 1 ? '' : 's');
  }

  function stateText(state) {
    switch (state.status) {
      case 'clean':
        return 'generated cleanly';
      case 'findings':
        return plural(state.errors + state.warnings, 'finding') + ' (' +
            plural(state.errors, 'error') + ', ' + plural(state.warnings, 'warning') + ')';
      case 'fails':
        return 'fails: ' + state.first_log;
      default:
        return 'generating…';
    }
  }

  function pageLink(id) {
    return '/page/' + encodeURIComponent(id);
  }

  // ---- The list ----------------------------------------------------------

  function listView() {
    titleBox.textContent = 'pages';
    const refresh = refresher(async () => {
      const list = await getJson('/api/pages');
      renderList(list);
    });
    listen(() => refresh());
    refresh();
  }

  function renderList(list) {
    titleBox.textContent = 'the pages of template set ' + list.set;
    document.title = 'set ' + list.set + ' – vavizar serve';
    const counts = {clean: 0, findings: 0, fails: 0, pending: 0};
    const body = el('tbody');
    for (const page of list.pages) {
      counts[page.status] = (counts[page.status] || 0) + 1;
      body.append(el('tr', {'data-id': page.id},
          el('td', {}, el('a', {href: pageLink(page.id), text: page.id})),
          el('td', {class: 'file', text: page.file}),
          el('td', {class: 'state status-' + page.status, text: stateText(page)})));
    }
    const parts = [plural(list.pages.length, 'page'), counts.clean + ' clean',
      counts.findings + ' with findings', counts.fails + ' failing'];
    if (counts.pending) parts.push(counts.pending + ' generating');
    clear(main);
    if (list.notice) main.append(el('div', {class: 'notice', text: list.notice}));
    main.append(el('p', {class: 'summary', text: parts.join(' · ')}));
    main.append(el('table', {class: 'pages', id: 'pages'},
        el('thead', {}, el('tr', {}, el('th', {text: 'page'}), el('th', {text: 'template'}),
            el('th', {text: 'state'}))),
        body));
    document.body.dataset.sequence = String(list.sequence);
  }

  // ---- Texts shown by lines ----------------------------------------------

  // Where each line of `text` starts: lines end at LF, CR LF or a lone CR,
  // as the findings count them.
  function lineStarts(text) {
    const starts = [0];
    for (let i = 0; i < text.length; i++) {
      const c = text.charCodeAt(i);
      if (c === 10) {
        starts.push(i + 1);
      } else if (c === 13) {
        if (text.charCodeAt(i + 1) === 10) i++;
        starts.push(i + 1);
      }
    }
    return starts;
  }

  // The last index i with sorted[i] <= value.
  function floorIndex(sorted, value) {
    let lo = 0;
    let hi = sorted.length - 1;
    while (lo < hi) {
      const mid = (lo + hi + 1) >> 1;
      if (sorted[mid] <= value) lo = mid;
      else hi = mid - 1;
    }
    return lo;
  }

  // A text shown line by line in `box`, with ranges {a, b, cls, title} marked
  // and notes {cls, text} under lines; `highlight` marks more ranges later.
  class TextPane {
    constructor(box, text, ranges, notes) {
      this.box = box;
      this.text = text;
      this.starts = lineStarts(text);
      this.fixed = this.bucket(ranges || []);
      this.notes = notes || new Map();
      this.extra = new Map();
      this.lines = [];
      this.render();
    }

    lineOf(offset) {
      return floorIndex(this.starts, offset);
    }

    // [start, end) of line i, without its line end.
    span(i) {
      const start = this.starts[i];
      let end = i + 1 < this.starts.length ? this.starts[i + 1] : this.text.length;
      while (end > start && (this.text.charCodeAt(end - 1) === 10 || this.text.charCodeAt(end - 1) === 13)) end--;
      return [start, end];
    }

    bucket(ranges) {
      const byLine = new Map();
      for (const r of ranges) {
        const first = this.lineOf(r.a);
        const last = this.lineOf(Math.max(r.a, r.b - 1));
        for (let i = first; i <= last; i++) {
          if (!byLine.has(i)) byLine.set(i, []);
          byLine.get(i).push(r);
        }
      }
      return byLine;
    }

    render() {
      clear(this.box);
      const fragment = document.createDocumentFragment();
      for (let i = 0; i < this.starts.length; i++) {
        const line = el('div', {class: 'line', 'data-line': String(i)});
        this.fill(line, i);
        this.lines.push(line);
        fragment.append(line);
        for (const note of this.notes.get(i) || []) {
          fragment.append(el('div', {class: 'note ' + note.cls, text: note.text}));
        }
      }
      this.box.append(fragment);
    }

    fill(line, i) {
      clear(line);
      line.append(el('span', {class: 'ln', text: String(i + 1)}));
      const [start, end] = this.span(i);
      const ranges = (this.fixed.get(i) || []).concat(this.extra.get(i) || []);
      if (ranges.length === 0) {
        line.append(this.text.slice(start, end));
        return;
      }
      const cuts = new Set([start, end]);
      for (const r of ranges) {
        cuts.add(Math.min(end, Math.max(start, r.a)));
        cuts.add(Math.min(end, Math.max(start, r.b)));
      }
      const points = Array.from(cuts).sort((x, y) => x - y);
      for (let k = 0; k + 1 < points.length; k++) {
        const a = points[k];
        const b = points[k + 1];
        const covering = ranges.filter((r) => r.a <= a && r.b >= b && r.b > r.a);
        const piece = this.text.slice(a, b);
        if (covering.length === 0) {
          line.append(piece);
          continue;
        }
        const attrs = {class: covering.map((r) => r.cls).join(' ')};
        const titled = covering.find((r) => r.title);
        if (titled) attrs.title = titled.title;
        line.append(el('span', attrs, piece));
      }
      // An empty range marks the line's end (a finding at a line end).
      if (ranges.some((r) => r.a === r.b && r.a === end)) line.append(el('span', {class: 'hl'}, ' '));
    }

    // Replaces the later marks by `ranges` and redraws the lines they touch.
    highlight(ranges) {
      const touched = new Set(this.extra.keys());
      this.extra = this.bucket(ranges);
      for (const i of this.extra.keys()) touched.add(i);
      for (const i of touched) this.fill(this.lines[i], i);
    }

    markLines(indexes, cls) {
      for (const line of this.lines) line.classList.remove(cls);
      for (const i of indexes) {
        if (this.lines[i]) this.lines[i].classList.add(cls);
      }
    }

    scrollTo(offset) {
      const line = this.lines[this.lineOf(offset)];
      if (!line) return;
      const top = line.offsetTop - this.box.offsetTop - this.box.clientHeight / 3;
      this.box.scrollTop = Math.max(0, top);
    }
  }

  // ---- The page view -----------------------------------------------------

  const kinds = ['template', 'code', 'generated'];

  // The ORIGIN at `at` of a flat array (kind, row, occurrence, offset,
  // converted) as an object.
  function origin(array, at) {
    return {kind: kinds[array[at]], row: array[at + 1], occurrence: array[at + 2],
      offset: array[at + 3], converted: array[at + 4] === 1};
  }

  // A code's runs as the data gives them (six numbers a run, one after the
  // other), with where each starts.
  function decodeRuns(flat) {
    if (flat === null) return null;
    const starts = new Array(flat.length / 6);
    let start = 0;
    for (let i = 0; i < starts.length; i++) {
      starts[i] = start;
      start += flat[6 * i];
    }
    return {flat, starts};
  }

  function pageView(id) {
    const state = {mode: 'asp', selected: null, view: null, scroll: null};
    const refresh = refresher(async () => {
      const view = await getJson('/api/page/' + encodeURIComponent(id));
      if (view === null) {
        clear(main);
        main.append(el('div', {class: 'notice', text: 'Page ' + id + ' is not a page of this set.'}));
        return;
      }
      state.view = view;
      renderPage(state);
    });
    listen((change) => {
      if (change.pages.includes(id) || change.pages.includes('*')) refresh();
    });
    refresh();
  }

  function renderPage(state) {
    const view = state.view;
    const keep = state.panes ? {
      template: state.panes.template.box.scrollTop,
      code: state.panes.code.box.scrollTop,
    } : null;
    titleBox.textContent = 'page ' + view.page + ' of set ' + view.set;
    document.title = 'page ' + view.page + ' – vavizar serve';
    clear(main);

    const switcher = el('span', {class: 'switch'});
    for (const [mode, label] of [['asp', 'server-page code'], ['exec', 'execute code']]) {
      const button = el('button', {type: 'button', 'data-mode': mode, text: label});
      if (mode === state.mode) button.classList.add('on');
      button.addEventListener('click', () => {
        state.mode = mode;
        state.selected = null;
        renderPage(state);
      });
      switcher.append(button);
    }
    main.append(el('div', {class: 'bar'},
        el('span', {class: 'file', text: view.file}),
        el('span', {class: 'state status-' + view.state.status, id: 'state',
          text: stateText(view.state)}),
        switcher));
    if (view.read_failure) {
      main.append(el('div', {class: 'notice', text: 'The template cannot be read: ' + view.read_failure}));
    }

    // Findings: a list (each shows its place), and marks in the template.
    const ranges = [];
    const notes = new Map();
    const list = el('ul', {class: 'findings', id: 'findings'});
    for (const f of view.findings) {
      const where = f.line === null ? '' : f.line + ':' + f.column + ': ';
      const text = where + f.severity + ': ' + f.kind + ': ' + f.message;
      const item = el('li', {class: f.severity, text});
      list.append(item);
      if (f.offset === null) continue;
      ranges.push({a: f.offset, b: f.end, cls: 'finding-' + f.severity, title: f.kind + ': ' + f.message});
      item.addEventListener('click', () => state.panes.template.scrollTo(f.offset));
    }
    for (const [start, end, name, kind] of view.marks) {
      ranges.push({a: start, b: end, cls: 'mark-' + kind,
        title: (kind === 'open' ? 'opening tag of ' : 'closing tag of ') + name});
    }
    // The notes of the template go under the line of their place.
    const templatePane = el('div', {class: 'text', id: 'template'});
    const starts = lineStarts(view.template);
    for (const f of view.findings) {
      if (f.offset === null) continue;
      const i = floorIndex(starts, f.offset);
      if (!notes.has(i)) notes.set(i, []);
      notes.get(i).push({cls: f.severity, text: f.severity + ': ' + f.kind + ': ' + f.message});
    }
    if (view.findings.length) main.append(list);

    const code = view.codes[state.mode];
    const codePane = el('div', {class: 'text', id: 'code'});
    const codeBox = el('section', {class: 'pane'},
        el('h2', {text: state.mode === 'asp' ? 'server-page code' : 'execute code'}));
    for (const line of code.log) codeBox.append(el('div', {class: 'log', text: line}));
    codeBox.append(codePane);
    main.append(el('div', {class: 'panes'},
        el('section', {class: 'pane'}, el('h2', {text: 'template'}), templatePane),
        codeBox));
    const originBox = el('div', {id: 'origin'});
    main.append(originBox);

    state.panes = {
      template: new TextPane(templatePane, view.template, ranges, notes),
      code: new TextPane(codePane, code.text, [], new Map()),
      origin: originBox,
    };
    codePane.addEventListener('click', (e) => {
      const line = e.target.closest('.line');
      if (!line) return;
      state.selected = Number(line.dataset.line);
      showOrigin(state);
    });
    if (keep) {
      state.panes.template.box.scrollTop = keep.template;
      state.panes.code.box.scrollTop = keep.code;
    }
    if (state.selected !== null && state.selected < state.panes.code.lines.length) showOrigin(state);
    document.body.dataset.version = String(view.version);
  }

  // The runs that overlap [a, b) (decodeRuns), each clipped to it.
  function runsIn(runs, a, b) {
    const out = [];
    const {flat, starts} = runs;
    let i = starts.length ? floorIndex(starts, a) : 0;
    for (; i < starts.length && starts[i] < b; i++) {
      const runStart = starts[i];
      const start = Math.max(a, runStart);
      const end = Math.min(b, runStart + flat[6 * i]);
      if (end > start) out.push({start, end, runStart, origin: origin(flat, 6 * i + 1)});
    }
    return out;
  }

  function rowLabel(view, row) {
    const applied = view.rows.find((r) => r.row === row);
    return {text: 'row ' + (row + 1) + (applied ? ' (' + applied.name + ')' : ''), code: applied ? applied.code : ''};
  }

  // Shows where the selected line of the code came from: the template
  // stretches highlighted, and each tag row's code with the line marked,
  // following the expansions back to the template.
  function showOrigin(state) {
    const view = state.view;
    const panes = state.panes;
    const box = panes.origin;
    clear(box);
    panes.code.markLines([state.selected], 'selected');
    const code = view.codes[state.mode];
    const [a, lineEnd] = panes.code.span(state.selected);
    const nextStart = state.selected + 1 < panes.code.starts.length ? panes.code.starts[state.selected + 1] : code.text.length;
    const b = lineEnd > a ? lineEnd : nextStart;
    box.append(el('h3', {text: 'Line ' + (state.selected + 1) + ' of the ' +
        (state.mode === 'asp' ? 'server-page code' : 'execute code') + ' comes from'}));
    if (!code.decoded) code.decoded = decodeRuns(code.runs);
    if (code.decoded === null) {
      box.append(el('p', {class: 'muted', text: 'Not known for this code: the template changed while it was made; the page is fetched again.'}));
      panes.template.highlight([]);
      return;
    }
    const templateRanges = [];
    // One block for each expansion whose code or writing is on the line.
    const blocks = new Map();
    for (const piece of runsIn(code.decoded, a, b)) {
      const o = piece.origin;
      const from = o.offset + (piece.start - piece.runStart);
      const to = o.converted ? from + 1 : from + (piece.end - piece.start);
      if (o.kind === 'template') {
        templateRanges.push({a: from, b: to, cls: 'hl'});
        continue;
      }
      if (!blocks.has(o.occurrence)) blocks.set(o.occurrence, {ranges: [], converted: false});
      const block = blocks.get(o.occurrence);
      block.converted = block.converted || o.converted;
      if (o.kind === 'code') block.ranges.push({a: from, b: to, cls: 'hl'});
    }
    if (templateRanges.length) {
      const first = Math.min(...templateRanges.map((r) => r.a));
      box.append(el('div', {class: 'step template-origin',
        text: 'the template, from its line ' + (panes.template.lineOf(first) + 1) + ' (highlighted)'}));
    }
    for (const [occurrence, block] of blocks) {
      const expansion = view.occurrences[occurrence];
      if (!expansion) continue;
      const label = rowLabel(view, expansion.row);
      const step = el('div', {class: 'step'});
      if (block.ranges.length) {
        step.append(el('div', {text: (block.converted ? 'written for ' : '') + 'the code of ' + label.text + ':'}));
        const pre = el('div', {class: 'text code-origin'});
        step.append(pre);
        box.append(step);
        const pane = new TextPane(pre, label.code, block.ranges, new Map());
        pane.markLines(block.ranges.map((r) => pane.lineOf(r.a)), 'marked');
      } else {
        step.append(el('div', {}, 'what the expansion of ', el('code', {text: expansion.tag}),
            ' writes around the code of ' + label.text + ' ("<%", "%>", assignment lines)'));
        box.append(step);
      }
      followChain(view, occurrence, box, templateRanges);
    }
    panes.template.highlight(templateRanges);
    if (templateRanges.length) panes.template.scrollTo(Math.min(...templateRanges.map((r) => r.a)));
  }

  // The expansion `occurrence`, and those that brought in its tag, back to
  // the template: each step says which tag, and where it stood.
  function followChain(view, occurrence, box, templateRanges) {
    const seen = new Set();
    while (occurrence >= 0 && occurrence < view.occurrences.length && !seen.has(occurrence)) {
      seen.add(occurrence);
      const o = view.occurrences[occurrence];
      const at = origin(o.at, 0);
      const step = el('div', {class: 'step chain'});
      step.append('brought in by the expansion of ', el('code', {text: o.tag}));
      if (at.kind === 'template') {
        templateRanges.push({a: at.offset, b: at.offset + o.tag.length, cls: 'hl-tag'});
        const line = floorIndex(lineStarts(view.template), at.offset) + 1;
        step.append(', which stands in the template at line ' + line);
        box.append(step);
        return;
      }
      const label = rowLabel(view, at.row);
      step.append(', which is in the code of ' + label.text + ':');
      const pre = el('div', {class: 'text code-origin'});
      step.append(pre);
      box.append(step);
      const range = {a: at.offset, b: at.offset + o.tag.length, cls: 'hl-tag'};
      const pane = new TextPane(pre, label.code, [range], new Map());
      pane.markLines([pane.lineOf(at.offset)], 'marked');
      occurrence = at.occurrence;
    }
  }

  const match = /^\/page\/([^/]+)$/.exec(location.pathname);
  if (match) pageView(decodeURIComponent(match[1]));
  else listView();
})();
