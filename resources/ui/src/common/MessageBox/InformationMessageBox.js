import { MessageBoxButton, MessageBoxType } from "../constants.js";
import { creatorWindowMessageBox } from "./creatorWindowMessageBox.js";

// { title, buttons }: an information box, by default with the OK button.
export function InformationMessageBox(props) {
  return creatorWindowMessageBox(Object.assign({ buttons: [MessageBoxButton.OK] }, props, {
    type: MessageBoxType.INFORMATION,
  }));
}
