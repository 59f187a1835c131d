// Opens a message box in the transparent dialog page over a backdrop; gives the button it was
// closed with, or 0 when it could not be opened.
import { addBackdrop, removeBackdrop } from "../WindowBackdrop/WindowBackdrop.js";
import { CreateWindowModal } from "./CreateWindowModal.js";

const kDialogWidth = 740;
const kDialogHeight = 630;

export async function creatorWindowMessageBox(props) {
  addBackdrop();
  try {
    const root = document.documentElement;
    return await CreateWindowModal({
      url: Window.this.ROOT_PATH + "src/common/windows/windowTransparent.html",
      parameters: {
        module: "src/common/MessageBox/MessageBoxLayoutContent.js",
        component: "MessageBoxLayoutContent",
        props,
      },
      width: root.toPixels(kDialogWidth + "dip"),
      height: root.toPixels(kDialogHeight + "dip"),
    });
  } catch (error) {
    console.error("<creatorWindowMessageBox> failed to open message box. error - " + error);
    return 0;
  } finally {
    removeBackdrop();
  }
}
