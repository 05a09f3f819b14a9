// The user's actions, handed to the viewer: the toolbar, the slider, the
// keys, dropping a file on the page and resizing the window.
export function connectControls(controls, viewer) {
  controls.file.addEventListener('change', () => {
    const [file] = controls.file.files;
    if (file) viewer.openChosen(file);
    controls.file.value = '';
  });

  for (const control of [controls.track, controls.resolution, controls.tablature]) {
    control.addEventListener('change', () => viewer.draw());
  }
  controls.transpose.addEventListener('input', () => viewer.draw());

  controls.play.addEventListener('click', () => viewer.playOrPause());
  controls.allTracks.addEventListener('change', () => viewer.allTracksChanged());

  controls.seek.addEventListener('input', () => viewer.seek(Number(controls.seek.value)));
  // The slider's own arrow keys would move it by one unit, 1/768 of a
  // quarter note: they move it by a beat of the meter instead.
  const BEAT_KEYS = { ArrowRight: 1, ArrowUp: 1, ArrowLeft: -1, ArrowDown: -1 };
  controls.seek.addEventListener('keydown', (event) => {
    const direction = BEAT_KEYS[event.key];
    if (!direction || event.altKey || event.ctrlKey || event.metaKey) return;
    event.preventDefault();
    viewer.seekBeat(direction);
  });

  controls.previous.addEventListener('click', () => viewer.turn(-1));
  controls.next.addEventListener('click', () => viewer.turn(1));

  document.addEventListener('keydown', (event) => {
    // Keys typed into a control (or a space on a focused button) are its own.
    if (event.target.closest?.('input, select, textarea, button')) return;
    if (event.key === ' ' && viewer.drawn) {
      event.preventDefault();
      viewer.playOrPause();
    } else if (event.key === 'PageDown' || event.key === 'ArrowRight') {
      viewer.turn(1);
    } else if (event.key === 'PageUp' || event.key === 'ArrowLeft') {
      viewer.turn(-1);
    }
  });

  // Dropping a file anywhere on the page opens it.
  let dragDepth = 0;
  document.addEventListener('dragenter', (event) => {
    event.preventDefault();
    dragDepth += 1;
    document.body.classList.add('dragging');
  });
  document.addEventListener('dragleave', () => {
    dragDepth = Math.max(0, dragDepth - 1);
    if (!dragDepth) document.body.classList.remove('dragging');
  });
  document.addEventListener('dragover', (event) => event.preventDefault());
  document.addEventListener('drop', (event) => {
    event.preventDefault();
    dragDepth = 0;
    document.body.classList.remove('dragging');
    const [file] = event.dataTransfer.files;
    if (file) viewer.openChosen(file);
  });

  let resizing = 0;
  window.addEventListener('resize', () => {
    clearTimeout(resizing);
    resizing = setTimeout(() => viewer.relayout(), 200);
  });
}
