// A row of buttons, aligned right: { id, name, type: "primary" | "secondary", state }.
import { folderOf } from "../../paths.js";
import { StateActionButton } from "../../constants.js";
import { localize } from "../../localization.js";

const kHere = folderOf(import.meta.url);

export function ActionButtons(props) {
  return JSX("div", { class: "action-buttons", styleset: kHere + "ActionButtons.css#ActionButtons" },
    (props.buttons || []).map((button) => JSX("button", {
      id: button.id,
      class: "action-button " + (button.type || "secondary"),
      disabled: button.state === StateActionButton.DISABLED,
    }, [localize(button.name)])));
}
