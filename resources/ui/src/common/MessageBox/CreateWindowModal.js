// A modal dialog window over this one, centred on it; gives what the dialog closed with.
export async function CreateWindowModal({ url, parameters, width, height }) {
  return await Window.this.modal({
    type: Window.DIALOG_WINDOW,
    url,
    parameters,
    width,
    height,
    alignment: -5,
    state: Window.WINDOW_SHOWN,
  });
}
