// The byte-code listing pane: zvdis's lines, of which only those in view are in the document,
// so that a listing of a million lines scrolls as lightly as one of ten. Lines can be marked
// (the bytes of the construct under the pointer) and picked (a click, handed to `onpick`).

const lineheight = 18; // pixels; style.css gives .listing .line the same height
const overscan = 20;   // lines drawn beyond each edge of the view

export class ListingView {
  constructor(host, onpick) {
    this.host = host;
    this.onpick = onpick;
    this.lines = [];
    this.marked = new Set();
    this.picked = -1;
    this.spacer = document.createElement('div');
    this.spacer.className = 'spacer';
    this.window = document.createElement('div');
    this.window.className = 'window';
    this.spacer.appendChild(this.window);
    host.appendChild(this.spacer);
    host.addEventListener('scroll', () => this.draw());
    host.addEventListener('click', (event) => {
      const line = event.target.closest('.line');
      if (line) this.onpick(Number(line.dataset.index));
    });
  }

  setlines(lines) {
    this.lines = lines;
    this.marked = new Set();
    this.picked = -1;
    this.spacer.style.height = lines.length * lineheight + 'px';
    this.draw();
  }

  // Marks the lines of `indexes` and brings the first of them into view.
  mark(indexes) {
    this.marked = new Set(indexes);
    if (indexes.length > 0) this.reveal(indexes[0]);
    this.draw();
  }

  pick(index) {
    this.picked = index;
    this.draw();
  }

  reveal(index) {
    const top = index * lineheight;
    const view = this.host.clientHeight;
    if (top < this.host.scrollTop || top + lineheight > this.host.scrollTop + view) {
      this.host.scrollTop = Math.max(0, top - view / 3);
    }
  }

  draw() {
    const first = Math.max(0, Math.floor(this.host.scrollTop / lineheight) - overscan);
    const last = Math.min(this.lines.length,
      Math.ceil((this.host.scrollTop + this.host.clientHeight) / lineheight) + overscan);
    this.window.style.transform = `translateY(${first * lineheight}px)`;
    const parts = [];
    for (let index = first; index < last; ++index) {
      const line = document.createElement('div');
      line.className = 'line' + (this.marked.has(index) ? ' marked' : '') + (index === this.picked ? ' picked' : '');
      line.dataset.index = index;
      line.textContent = this.lines[index];
      parts.push(line);
    }
    this.window.replaceChildren(...parts);
  }
}
