'use strict';

// The package manager's console: the newest lines in a bounded ring buffer,
// of which only the rows in view exist in the document, drawn at most once
// per animation frame. The package manager prints far faster than anyone
// reads; an element per line kept the page busy long after the output
// ended. Standalone: loaded before kitwright.js, which owns one.

// Output lines are plain text; lines the application marks as errors
// arrive wrapped in one red span.
const consoleErrorSpan = /^<span style="color: red;">([\s\S]*)<\/span>$/;

// [className, text] of one received line.
function consoleRowOf(line) {
  const match = consoleErrorSpan.exec(line);
  return match ? ['error', match[1]] : ['', line];
}

class ConsoleView {
  // box: the scrolling element whose rows this view draws; capacity: how
  // many of the newest lines it keeps.
  constructor(box, capacity) {
    this.box = box;
    this.capacity = capacity;
    this.lines = new Array(capacity);
    this.first = 0;   // ring index of the oldest kept line
    this.count = 0;
    // Lines that left the buffer since the last drawing: a view scrolled
    // back moves up by as many rows to stay on the lines it shows.
    this.dropped = 0;
    // At the bottom, the view follows new lines; scrolled back, it stays.
    this.following = true;
    this.drawnTop = 0;  // where the last drawing left the view
    this.frame = 0;
    this.rowHeight = 0;
    // Blocks above and below the drawn rows that stand for the rest.
    this.above = this.gap();
    this.below = this.gap();
    box.replaceChildren(this.above, this.below);
    box.addEventListener('scroll', () => this.schedule());
  }

  gap() {
    const gap = document.createElement('span');
    gap.className = 'console-gap';
    gap.setAttribute('aria-hidden', 'true');
    return gap;
  }

  append(line) {
    if (this.count < this.capacity) {
      this.lines[(this.first + this.count++) % this.capacity] = line;
    } else {
      this.lines[this.first] = line;
      this.first = (this.first + 1) % this.capacity;
      this.dropped++;
    }
    this.schedule();
  }

  clear() {
    this.lines.fill(undefined);
    this.first = 0;
    this.count = 0;
    this.dropped = 0;
    this.following = true;
    this.schedule();
  }

  line(index) {
    return this.lines[(this.first + index) % this.capacity];
  }

  // Every kept line as [className, text], oldest first.
  kept() {
    return Array.from({ length: this.count }, (_, i) => consoleRowOf(this.line(i)));
  }

  schedule() {
    if (!this.frame) this.frame = requestAnimationFrame(() => this.draw());
  }

  row(line) {
    const [className, text] = consoleRowOf(line);
    const row = document.createElement('div');
    row.className = className;
    row.textContent = text;
    return row;
  }

  // Draws the rows in view now; also called when a batch ends, so that its
  // last lines are shown before anything else happens.
  draw() {
    if (this.frame) cancelAnimationFrame(this.frame);
    this.frame = 0;
    const box = this.box;
    if (!this.rowHeight) {
      const probe = this.row(' ');
      box.append(probe);
      this.rowHeight = probe.offsetHeight || 18;
      probe.remove();
    }
    const height = this.rowHeight;
    const padding = parseFloat(getComputedStyle(box).paddingTop) || 0;
    // Whether the user left the bottom or came back to it is read here, from
    // the rows as drawn, not in the scroll event, which may come later.
    if (Math.abs(box.scrollTop - this.drawnTop) > 1) {
      this.following = box.scrollTop + box.clientHeight >= box.scrollHeight - height / 2;
    }
    const top = this.following ? this.count * height + 2 * padding - box.clientHeight
      : box.scrollTop - this.dropped * height;
    this.dropped = 0;
    const slack = 4;  // rows drawn beyond each edge, for smooth scrolling
    const start = Math.max(0, Math.floor((top - padding) / height) - slack);
    const end = Math.min(this.count, Math.ceil((top - padding + box.clientHeight) / height) + slack);
    const rows = [];
    for (let i = start; i < end; i++) rows.push(this.row(this.line(i)));
    this.above.style.height = start * height + 'px';
    this.below.style.height = (this.count - Math.max(start, end)) * height + 'px';
    box.replaceChildren(this.above, ...rows, this.below);
    box.scrollTop = this.following ? box.scrollHeight : Math.max(0, top);
    this.drawnTop = box.scrollTop;
  }
}
