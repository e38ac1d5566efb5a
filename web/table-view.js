// The table on the page: a header of sortable columns over a scrolling window of rows. Only the
// rows in view are in the document, so that millions scroll as easily as ten; they come from
// the worker a screenful at a time. Every value is shown as text, never as markup.

const ROW_HEIGHT_REM = 1.9;
// Browsers cap the height of an element (Firefox near 17.9 million pixels); past this the
// scroll position is scaled to the rows instead of a pixel a pixel.
const LARGEST_SCROLL_HEIGHT = 8_000_000;
const SPARE_ROWS = 10;  // fetched beyond each edge of the view
// The tick, the name, the note (where a marked row says why, in view beside its name), then the
// values.
const WIDTHS = ['3.6rem', 'var(--name-width, 14rem)', '17rem', '7.6rem', '7.6rem', '8.6rem', '9.2rem', '7.6rem', '7.6rem', '8.4rem', '9rem', '7.8rem'];
const MARK = '⚠ ';

function element(tag, className, text) {
  const made = document.createElement(tag);
  if (className) made.className = className;
  if (text !== undefined) made.textContent = text;
  return made;
}

export class TableView {
  // fetchRows(from, to) resolves to the rows at those places of the current order; onSort(column,
  // descending) asks for another order; onPick(index, picked) follows the orbit-view ticks.
  constructor(container, { fetchRows, onSort, onPick }) {
    this.fetchRows = fetchRows;
    this.onSort = onSort;
    this.onPick = onPick;
    this.count = 0;
    this.picked = new Set();
    this.sort = { column: -1, descending: false };
    this.generation = 0;  // answers for an earlier order or scroll place are dropped
    this.shownFrom = -1;
    // The row the keyboard is on, as a place in the current order; -1 before the table is entered.
    // The table is one stop in the Tab order that keeps the focus itself (the grid pattern, with
    // aria-activedescendant): rows come and go as it scrolls, and focus on one would go with it.
    this.active = -1;

    container.replaceChildren();
    this.scroller = element('div', 'scroller');
    this.scroller.tabIndex = 0;
    this.scroller.setAttribute('role', 'grid');
    this.scroller.setAttribute('aria-label', 'Converted rows');
    container.style.setProperty('--columns', WIDTHS.join(' '));
    container.style.setProperty('--row-height', `${ROW_HEIGHT_REM}rem`);

    this.head = element('div', 'grid head');
    this.head.setAttribute('role', 'row');
    this.titles = [];  // the table's column titles, once the converter has given them
    this.spacer = element('div', 'spacer');
    this.rows = element('div', 'rows');
    this.rows.setAttribute('role', 'rowgroup');
    this.spacer.append(this.rows);
    this.empty = element('p', 'empty', 'No rows.');
    // Where the columns do not fit, the table says it scrolls sideways (the name stays in view).
    this.sideways = element('p', 'sideways', 'The table scrolls sideways: more columns to the right →');
    this.sideways.hidden = true;
    // The row in focus or tapped, every field in full and the whole reason of a marked one, for
    // eyes that cannot hover and for screen readers.
    this.detail = element('dl', 'row-detail');
    this.detail.setAttribute('aria-live', 'polite');
    this.detail.setAttribute('aria-label', 'The chosen row in full');
    this.detail.hidden = true;
    this.scroller.append(this.head, this.spacer);
    container.append(this.sideways, this.scroller, this.empty, this.detail);

    this.scroller.addEventListener('scroll', () => this.scheduleRender(), { passive: true });
    new ResizeObserver(() => this.scheduleRender()).observe(this.scroller);
    // A row clicked or tapped becomes the keyboard's, and is shown in full.
    const showRow = (event) => {
      const row = event.target.closest?.('.row');
      if (!row?.rowData) return;
      this.active = Number(row.getAttribute('aria-rowindex')) - 2;
      this.markActive();
      this.showDetail(row.rowData);
    };
    this.rows.addEventListener('click', showRow);
    this.scroller.addEventListener('keydown', (event) => this.onKey(event));
    this.scroller.addEventListener('focus', () => {
      if (this.active < 0 && this.count > 0) this.moveTo(Math.max(0, this.shownFrom));
      else this.markActive();
    });
    this.scroller.addEventListener('blur', () => this.markActive());
  }

  // The header, from the table's column titles: the tick, the name, the note, the values.
  setColumns(titles) {
    this.titles = titles;
    this.head.replaceChildren(this.plainHeader('Orbit', 'Show in the orbit view'), this.sortingHeader(titles[0], 0),
      this.plainHeader('Note', 'Why the row is marked'), ...titles.slice(1).map((title, k) => this.sortingHeader(title, k + 1)));
    this.showSort();
  }

  // A column that is not sorted by: a short title, and a longer one for screen readers.
  plainHeader(title, label) {
    const cell = element('div', 'plain', title);
    cell.setAttribute('role', 'columnheader');
    cell.setAttribute('aria-label', label);
    return cell;
  }

  sortingHeader(title, column) {
    const cell = element('div');
    cell.setAttribute('role', 'columnheader');
    cell.dataset.column = String(column);
    const button = element('button', '', title);
    button.type = 'button';
    // The arrow shows the order to the eye; the header's aria-sort tells it to a screen reader.
    const arrow = element('span', 'arrow');
    arrow.setAttribute('aria-hidden', 'true');
    button.append(arrow);
    button.addEventListener('click', () => {
      const descending = this.sort.column === column && !this.sort.descending;
      this.onSort(column, descending);
    });
    cell.append(button);
    return cell;
  }

  // The column sorted by, and which way, on its header.
  showSort() {
    this.head.querySelectorAll('[data-column]').forEach((cell) => {
      const column = Number(cell.dataset.column);
      const sorted = column === this.sort.column;
      cell.setAttribute('aria-sort', sorted ? (this.sort.descending ? 'descending' : 'ascending') : 'none');
      const arrow = cell.querySelector('.arrow');
      if (arrow) arrow.textContent = sorted ? (this.sort.descending ? ' ▼' : ' ▲') : '';
    });
  }

  // Shows `count` rows of a new order (or a new input), from the top.
  reset(count, { picked = this.picked, sort = this.sort } = {}) {
    this.count = count;
    this.picked = picked;
    this.sort = sort;
    ++this.generation;
    this.shownFrom = -1;
    this.showSort();
    this.scroller.setAttribute('aria-rowcount', String(count + 1));
    this.empty.hidden = count > 0;
    this.detail.hidden = true;
    this.active = -1;
    this.rows.replaceChildren();
    this.scroller.scrollTop = 0;
    this.scheduleRender();
  }

  // Arrows, Page Up and Down, Home and End move through the rows; Space ticks the row.
  onKey(event) {
    if (event.target !== this.scroller || this.count === 0 || event.altKey || event.ctrlKey || event.metaKey) return;
    const page = Math.max(1, Math.floor((this.scroller.clientHeight - this.head.offsetHeight) / this.rowHeight()) - 1);
    const moves = { ArrowDown: 1, ArrowUp: -1, PageDown: page, PageUp: -page };
    const from = Math.max(0, this.active);
    if (event.key in moves) this.moveTo(this.active < 0 ? from : from + moves[event.key]);
    else if (event.key === 'Home') this.moveTo(0);
    else if (event.key === 'End') this.moveTo(this.count - 1);
    else if (event.key === ' ' && this.active >= 0) this.activeRow()?.querySelector('input')?.click();
    else return;
    event.preventDefault();
  }

  // Makes row `position` the keyboard's, scrolled into view.
  moveTo(position) {
    this.active = Math.min(Math.max(0, position), this.count - 1);
    const rowHeight = this.rowHeight();
    const viewHeight = Math.max(rowHeight, this.scroller.clientHeight - this.head.offsetHeight);
    const height = Math.min(this.count * rowHeight, LARGEST_SCROLL_HEIGHT);
    if (height === this.count * rowHeight) {
      const top = this.active * rowHeight;
      if (top < this.scroller.scrollTop) this.scroller.scrollTop = top;
      else if (top + rowHeight > this.scroller.scrollTop + viewHeight) this.scroller.scrollTop = top + rowHeight - viewHeight;
    } else {
      // Past the cap, the place is a share of the rows: the one that puts this row first in view.
      const view = Math.ceil(viewHeight / rowHeight);
      const first = this.shownFrom;
      if (this.active < first || this.active >= first + view - 1) {
        const wanted = Math.max(0, Math.min(this.active - (this.active < first ? 0 : view - 2), this.count - view));
        this.scroller.scrollTop = (wanted / Math.max(1, this.count - view)) * (height - viewHeight);
      }
    }
    this.markActive();
    this.scheduleRender();
  }

  activeRow() {
    return this.rows.querySelector(`[aria-rowindex="${this.active + 2}"]`);
  }

  // The keyboard's row, drawn as such while the table has the focus, and shown in full.
  markActive() {
    const focused = document.activeElement === this.scroller;
    for (const row of this.rows.children) row.classList.remove('active');
    const row = this.active >= 0 ? this.activeRow() : null;
    if (row === null) {
      this.scroller.removeAttribute('aria-activedescendant');
      return;
    }
    this.scroller.setAttribute('aria-activedescendant', row.id);
    row.classList.toggle('active', focused);
    if (focused) this.showDetail(row.rowData);
  }

  // Every field of a row in full: the name, the note when it is marked, then the values.
  showDetail({ fields, marked, note }) {
    const titles = [this.titles[0], ...(marked ? ['Note'] : []), ...this.titles.slice(1)];
    const values = [fields[0] ?? '', ...(marked ? [`${MARK}${note}`] : []), ...this.titles.slice(1).map((_, k) => fields[k + 1] ?? '')];
    this.detail.replaceChildren(...titles.flatMap((title, k) => [element('dt', '', title), element('dd', '', values[k])]));
    this.detail.hidden = false;
  }

  rowHeight() {
    return ROW_HEIGHT_REM * parseFloat(getComputedStyle(document.documentElement).fontSize);
  }

  scheduleRender() {
    if (this.renderPending) return;
    this.renderPending = true;
    requestAnimationFrame(() => {
      this.renderPending = false;
      this.render();
    });
  }

  // The spacer is as tall as the rows would be (up to a cap); the rows in view are placed over
  // it where the view is, the first of them at the top.
  async render() {
    const rowHeight = this.rowHeight();
    const height = Math.min(this.count * rowHeight, LARGEST_SCROLL_HEIGHT);
    this.spacer.style.height = `${height}px`;
    this.sideways.hidden = this.count === 0 || this.scroller.scrollWidth <= this.scroller.clientWidth;
    const viewHeight = Math.max(rowHeight, this.scroller.clientHeight - this.head.offsetHeight);
    const view = Math.ceil(viewHeight / rowHeight);
    const top = this.scroller.scrollTop;
    // Each row has its own place while they fit; past the cap, the first row in view is the
    // scroll place as a share of all the places there are.
    const natural = height === this.count * rowHeight;
    const share = Math.min(1, top / Math.max(1, height - viewHeight));
    const first = natural ? Math.min(Math.floor(top / rowHeight), Math.max(0, this.count - 1))
      : Math.max(0, Math.round(share * Math.max(0, this.count - view)));
    if (this.count === 0 || (first === this.shownFrom && this.rows.childElementCount > 0)) return;
    const generation = this.generation;
    const from = Math.max(0, first - SPARE_ROWS);
    const to = Math.min(this.count, first + view + SPARE_ROWS);
    const rows = await this.fetchRows(from, to);
    if (generation !== this.generation) return;
    this.shownFrom = first;
    this.rows.style.top = `${natural ? from * rowHeight : top - (first - from) * rowHeight}px`;
    this.rows.replaceChildren(...rows.map((row, k) => this.rowElement(row, from + k)));
    this.markActive();
    // The view may have moved while the rows were on their way.
    this.scheduleRender();
  }

  // A row of the table; a marked row's checkbox is described by its note, which a screen reader
  // reads from the row itself.
  rowElement({ index, fields, marked, note }, position) {
    const row = element('div', marked ? 'grid row marked' : 'grid row');
    row.setAttribute('role', 'row');
    row.setAttribute('aria-rowindex', String(position + 2));
    row.id = `row-${this.generation}-${position}`;
    const pick = element('div', 'pick');
    pick.setAttribute('role', 'cell');
    const box = element('input');
    box.type = 'checkbox';
    box.checked = this.picked.has(index);
    box.setAttribute('aria-label', `Show ${fields[0]} in the orbit view`);
    // Reached through the table's own stop; a click leaves the focus with the table, on this row.
    box.tabIndex = -1;
    box.addEventListener('change', () => {
      this.onPick(index, box.checked);
      if (document.activeElement !== this.scroller) {
        this.active = position;
        this.scroller.focus({ preventScroll: true });
        this.markActive();
      }
    });
    pick.append(box);
    const cell = (className, text) => {
      const made = element('div', className, text);
      made.setAttribute('role', 'cell');
      made.title = text;
      return made;
    };
    const noteCell = cell('note', marked ? `${MARK}${note}` : '');
    if (marked) {
      noteCell.id = `note-${this.generation}-${position}`;
      box.setAttribute('aria-describedby', noteCell.id);
    }
    row.append(pick, cell('name', fields[0] ?? ''), noteCell, ...this.titles.slice(1).map((_, k) => cell('number', fields[k + 1] ?? '')));
    row.rowData = { fields, marked, note };
    return row;
  }
}
