// The unit's service page: choose the parameters each selection reports, and
// see the meters and the modem. Everything comes from dcuweb ("api" beside
// this page); a change is a POST with the page's token.
'use strict';

(() => {
  // The program's address from the page's origin and path: a page opened
  // with credentials in its address must not hand them to fetch().
  const apiBase = new URL('api', location.origin + location.pathname.replace(/[^/]*$/, ''));

  const $ = (selector) => document.querySelector(selector);

  function element(tag, properties = {}, children = []) {
    const node = document.createElement(tag);
    for (const [name, value] of Object.entries(properties)) {
      if (name === 'text') node.textContent = value;
      else if (name === 'dataset') Object.assign(node.dataset, value);
      else node[name] = value;
    }
    for (const child of children) node.append(child);
    return node;
  }

  // GET or POST to dcuweb; resolves to the parsed answer, rejects with its error text.
  async function api(query, options = {}) {
    const url = new URL(apiBase);
    url.search = query;
    const response = await fetch(url, { credentials: 'same-origin', cache: 'no-store', ...options });
    let body = null;
    try {
      body = await response.json();
    } catch (error) {
      throw new Error(`${response.status} ${response.statusText}`);
    }
    if (!response.ok) throw new Error(body && body.error ? body.error : `${response.status} ${response.statusText}`);
    return body;
  }

  function say(target, text, kind) {
    target.textContent = text;
    target.className = kind || '';
  }

  // ---- selections --------------------------------------------------------

  const notices = {
    missing: 'The file does not exist yet: nothing is selected. Saving makes it.',
    unreadable: 'The file can\'t be read: the handlers select nothing from it.',
    unparsable: 'The file is not one the unit can read (its own outer braces, a NumParams that is ' +
      'not a quoted number, text after the last section...): the handlers select nothing from it, ' +
      'and saving is refused until it is repaired or removed.',
    'no section': 'The file has no such section: nothing is selected. Saving adds it.',
    'NumParams refused': 'Its NumParams is out of 0 to 255: nothing is selected. Saving replaces the section.',
  };

  let currentView = null;

  function rows() {
    return Array.from(document.querySelectorAll('#codes tbody tr'));
  }

  function updateCount() {
    const chosen = rows().filter((row) => row.querySelector('input.pick').checked);
    for (const row of rows()) row.classList.toggle('chosen', row.querySelector('input.pick').checked);
    $('#count').textContent = `${chosen.length} of at most 255 parameters chosen`;
  }

  function move(row, step) {
    const sibling = step < 0 ? row.previousElementSibling : row.nextElementSibling;
    if (!sibling) return;
    if (step < 0) sibling.before(row);
    else sibling.after(row);
  }

  function codeRow(code, name, chosen, meters, totalMeters) {
    const pick = element('input', { type: 'checkbox', className: 'pick', checked: chosen });
    pick.setAttribute('aria-label', `Report ${code}`);
    pick.addEventListener('change', updateCount);
    const assign = element('input', { type: 'text', className: 'assign', value: name, maxLength: 63 });
    assign.setAttribute('aria-label', `Display name of ${code}`);
    const up = element('button', { type: 'button', text: '\u2191', title: 'Earlier' });
    const down = element('button', { type: 'button', text: '\u2193', title: 'Later' });
    const row = element('tr', { dataset: { obis: code } }, [
      element('td', {}, [pick]),
      element('td', { className: 'obis', text: code === '' ? '(empty code)' : code }),
      element('td', {}, [assign]),
      element('td', { className: 'order' }, [up, down]),
      element('td', {
        className: 'meters',
        text: meters === 0 ? 'on no meter' : `${meters} of ${totalMeters}`,
      }),
    ]);
    if (meters === 0) row.classList.add('unknown');
    up.addEventListener('click', () => move(row, -1));
    down.addEventListener('click', () => move(row, 1));
    return row;
  }

  function showView(view) {
    currentView = view;
    for (const button of document.querySelectorAll('#view-list button'))
      button.setAttribute('aria-pressed', String(button.dataset.view === view.id));
    $('#view-title').textContent = view.title;
    $('#view-file').textContent = `${view.section} of ${view.file}: ${view.kind} codes ` +
      `of ${view.meters} meter${view.meters === 1 ? '' : 's'}`;
    const notice = [];
    if (notices[view.file_state]) notice.push(notices[view.file_state]);
    if (!view.store) notice.push('The store can\'t be reached: the unit\'s meters and their codes are not known.');
    $('#view-notice').textContent = notice.join(' ');
    $('#view-notice').hidden = notice.length === 0;

    const meterCount = new Map(view.codes.map((code) => [code.obis, code.meters]));
    $('#codes').dataset.view = view.id;
    const body = $('#codes tbody');
    body.replaceChildren();
    // The section as it stands, in its order; then the codes it leaves out.
    const shown = new Set();
    for (const entry of view.selected) {
      body.append(codeRow(entry.obis, entry.assign, true, meterCount.get(entry.obis) || 0, view.meters));
      shown.add(entry.obis);
    }
    for (const code of view.codes) {
      if (shown.has(code.obis)) continue;
      body.append(codeRow(code.obis, code.obis, false, code.meters, view.meters));
      shown.add(code.obis);
    }
    $('#save').disabled = view.file_state === 'unparsable' || view.file_state === 'unreadable';
    updateCount();
  }

  // Only the view asked for last is shown: on a slow unit the first view,
  // opened at start, may come back after the engineer chose one (the same
  // one, even), and must not replace it or what was ticked in it since.
  let lastOpening = 0;

  async function openView(id) {
    const opening = ++lastOpening;
    say($('#message'), 'Loading...', 'quiet');
    try {
      const view = await api(`view=${encodeURIComponent(id)}`);
      if (opening !== lastOpening) return;
      showView(view);
      say($('#message'), '');
    } catch (error) {
      if (opening === lastOpening) say($('#message'), `Can't load the selection: ${error.message}`, 'error');
    }
  }

  async function save() {
    if (!currentView) return;
    const entries = rows()
      .filter((row) => row.querySelector('input.pick').checked)
      .map((row) => ({ obis: row.dataset.obis, assign: row.querySelector('input.assign').value }));
    $('#save').disabled = true;
    say($('#message'), 'Saving...', 'quiet');
    try {
      // A fresh token: one from a page left open for hours has expired.
      const session = await api('session');
      const saved = await api(`view=${encodeURIComponent(currentView.id)}`, {
        method: 'POST',
        headers: { 'Content-Type': 'application/json', 'X-DCU-Token': session.token },
        body: JSON.stringify({ entries }),
      });
      const view = await api(`view=${encodeURIComponent(currentView.id)}`);
      showView(view);
      say($('#message'), `Saved: ${saved.num_params} parameter${saved.num_params === '1' ? '' : 's'} in ` +
        `${saved.section} of ${saved.file}, read back as chosen.`, 'ok');
    } catch (error) {
      say($('#message'), `Not saved: ${error.message}`, 'error');
    } finally {
      $('#save').disabled = currentView.file_state === 'unparsable' || currentView.file_state === 'unreadable';
    }
  }

  // ---- status ------------------------------------------------------------

  function cell(value, className) {
    return element('td', { className: className || '', text: value === null || value === undefined ? '\u2014' : String(value) });
  }

  async function refreshStatus() {
    say($('#status-message'), 'Reading the unit...', 'quiet');
    try {
      const status = await api('status');
      const meters = $('#meters tbody');
      meters.replaceChildren();
      for (const meter of status.meters) {
        meters.append(element('tr', { dataset: { serial: meter.serial } }, [
          cell(meter.serial, 'serial'),
          cell(meter.port),
          cell(meter.slot),
          cell(meter.directory),
          cell(meter.comm_status === null ? 'not in the unit\'s configuration' : meter.comm_status || '(none)', 'comm'),
          cell(meter.newest_record, 'newest'),
          cell(meter.newest_file),
        ]));
      }
      if (status.meters.length === 0) meters.append(element('tr', {}, [element('td', { colSpan: 7, text: 'No meters.' })]));
      const modem = $('#modem tbody');
      modem.replaceChildren();
      for (const field of status.modem.fields) modem.append(element('tr', {}, [cell(field.name), cell(field.value)]));
      $('#status-time').textContent = `Read at ${new Date().toLocaleTimeString()}`;
      const problems = [];
      if (!status.store) problems.push('the store can\'t be reached');
      else if (status.meter_list !== 'SUCCESS') problems.push('the meter list failed');
      if (status.store && status.comm_status !== 'SUCCESS') problems.push('the communication status failed');
      if (status.store && status.modem.answer !== 'SUCCESS') problems.push('the modem state failed');
      if (problems.length) say($('#status-message'), `Partly known: ${problems.join(', ')}.`, 'error');
      else say($('#status-message'), `${status.meters.length} meter${status.meters.length === 1 ? '' : 's'}.`, 'ok');
    } catch (error) {
      say($('#status-message'), `Can't read the status: ${error.message}`, 'error');
    }
  }

  // ---- tabs and start ----------------------------------------------------

  function showTab(name) {
    const status = name === 'status';
    $('#tab-selections').setAttribute('aria-selected', String(!status));
    $('#tab-status').setAttribute('aria-selected', String(status));
    $('#selections-view').hidden = status;
    $('#status-view').hidden = !status;
    if (status) refreshStatus();
  }

  async function start() {
    $('#tab-selections').addEventListener('click', () => showTab('selections'));
    $('#tab-status').addEventListener('click', () => showTab('status'));
    $('#refresh').addEventListener('click', refreshStatus);
    $('#save').addEventListener('click', save);
    $('#select-none').addEventListener('click', () => {
      for (const row of rows()) row.querySelector('input.pick').checked = false;
      updateCount();
    });
    try {
      const session = await api('session');
      $('#user').textContent = `Signed in as ${session.user}`;
      const list = $('#view-list');
      for (const view of session.views) {
        const button = element('button', { type: 'button', dataset: { view: view.id } }, [
          view.title,
          element('small', { text: `${view.section} \u00b7 ${view.file}` }),
        ]);
        button.addEventListener('click', () => openView(view.id));
        list.append(button);
      }
      if (session.views.length) await openView(session.views[0].id);
    } catch (error) {
      say($('#message'), `Can't reach dcuweb: ${error.message}`, 'error');
    }
  }

  document.addEventListener('DOMContentLoaded', start);
})();
