// The control panel, built from the control table both desktop faces build their
// windows from: the same texts, captions, range and defaults, and the same behaviour.
// The arrows move the frequency by 0.01 Hz; the slider's channel moves it one page
// (a fifth of the range, 9.98 Hz) toward a click or tap; the thumb drags; the keys move
// it as on the Windows trackbar (Up and Page Up lower it, Down and Page Down raise it).
const REPEAT_DELAY_MS = 400;
const REPEAT_MS = 50;

export class Panel {
  constructor(core, form, onStart) {
    this.core = core;
    this.form = form;
    this.min = core.minFrequency;
    this.max = core.maxFrequency;
    this.page = Math.trunc((this.max - this.min) / 5);
    this.position = core.defaultFrequency;
    core.controls().forEach((row, i) => this.place(form.querySelector(`[data-slot="${i}"]`), row));
    this.startButton.addEventListener('click', () => onStart(this.settings()));
    this.show();
  }

  place(slot, row) {
    switch (row.role) {
    case 'label':
      slot.textContent = row.text;
      break;
    case 'frequency':
      this.display = slot;
      slot.textContent = row.text;
      break;
    case 'slider':
      this.makeSlider(slot);
      break;
    case 'arrows':
      this.makeArrows(slot);
      break;
    case 'soundList':
    case 'visualList': {
      const select = document.createElement('select');
      select.name = row.role;
      row.captions.forEach((caption, k) => select.add(new Option(caption, String(k))));
      select.selectedIndex = this.core.initialListSelection;
      slot.replaceWith(select);
      this[row.role] = select;
      break;
    }
    case 'start': {
      const button = document.createElement('button');
      button.type = 'button';
      button.id = 'start';
      button.textContent = row.text;
      slot.replaceWith(button);
      this.startButton = button;
      break;
    }
    }
  }

  settings() {
    return { frequency: this.position, sound: this.soundList.selectedIndex, visual: this.visualList.selectedIndex };
  }

  moveTo(value) {
    const wanted = Math.min(this.max, Math.max(this.min, Math.round(value)));
    if (wanted === this.position) return;
    this.position = wanted;
    this.show();
  }

  show() {
    this.display.textContent = this.core.frequencyText(this.position);
    const fraction = (this.position - this.min) / (this.max - this.min);
    this.thumb.style.left = `calc(13px + (100% - 26px) * ${fraction})`;
    this.slider.setAttribute('aria-valuenow', String(this.position));
    this.slider.setAttribute('aria-valuetext', `${this.display.textContent} Гц`);
  }

  makeSlider(slot) {
    const slider = slot;
    this.slider = slider;
    slider.tabIndex = 0;
    slider.setAttribute('role', 'slider');
    slider.setAttribute('aria-valuemin', String(this.min));
    slider.setAttribute('aria-valuemax', String(this.max));
    slider.setAttribute('aria-label', this.core.controls()[0].text);
    slider.innerHTML = '<div class="channel"></div><div class="thumb"></div>';
    this.thumb = slider.querySelector('.thumb');
    let dragging = false;
    const valueAt = (x) => {
      const box = slider.getBoundingClientRect();
      const fraction = (x - box.left - 13) / Math.max(1, box.width - 26);
      return this.min + fraction * (this.max - this.min);
    };
    slider.addEventListener('pointerdown', (event) => {
      if (this.disabled || event.button !== 0) return;
      event.preventDefault();
      slider.focus();
      const thumb = this.thumb.getBoundingClientRect();
      if (event.clientX >= thumb.left && event.clientX <= thumb.right) {
        dragging = true;
        slider.setPointerCapture(event.pointerId);
      } else {
        this.moveTo(this.position + (event.clientX < thumb.left ? -this.page : this.page));
      }
    });
    slider.addEventListener('pointermove', (event) => {
      if (dragging) this.moveTo(valueAt(event.clientX));
    });
    const endDrag = () => { dragging = false; };
    slider.addEventListener('pointerup', endDrag);
    slider.addEventListener('pointercancel', endDrag);
    slider.addEventListener('keydown', (event) => {
      if (this.disabled) return;
      const step = { ArrowLeft: -1, ArrowUp: -1, ArrowRight: 1, ArrowDown: 1,
                     PageUp: -this.page, PageDown: this.page }[event.key];
      if (step !== undefined) this.moveTo(this.position + step);
      else if (event.key === 'Home') this.moveTo(this.min);
      else if (event.key === 'End') this.moveTo(this.max);
      else return;
      event.preventDefault();
    });
  }

  // Up raises the frequency 0.01 Hz, down lowers it; held, they repeat.
  makeArrows(slot) {
    for (const [name, step, glyph] of [['up', 1, '▲'], ['down', -1, '▼']]) {
      const button = document.createElement('button');
      button.type = 'button';
      button.className = name;
      button.textContent = glyph;
      button.tabIndex = -1;
      button.setAttribute('aria-label', step > 0 ? '+0,01 Гц' : '−0,01 Гц');
      let timer = null;
      const stopRepeat = () => { clearTimeout(timer); clearInterval(timer); timer = null; };
      button.addEventListener('pointerdown', (event) => {
        if (this.disabled || event.button !== 0) return;
        event.preventDefault();
        this.moveTo(this.position + step);
        stopRepeat();
        timer = setTimeout(() => { timer = setInterval(() => this.moveTo(this.position + step), REPEAT_MS); },
                           REPEAT_DELAY_MS);
      });
      for (const end of ['pointerup', 'pointercancel', 'pointerleave']) button.addEventListener(end, stopRepeat);
      // A click from the keyboard or an assistive tool (a pointer's steps were taken above).
      button.addEventListener('click', (event) => {
        if (event.detail === 0 && !this.disabled) this.moveTo(this.position + step);
      });
      slot.append(button);
    }
  }

  // While a session runs the panel takes no orders, as the disabled desktop window.
  set enabled(on) {
    this.disabled = !on;
    for (const control of this.form.querySelectorAll('button, select')) control.disabled = !on;
    this.slider.setAttribute('aria-disabled', String(!on));
    this.slider.tabIndex = on ? 0 : -1;
  }
}
