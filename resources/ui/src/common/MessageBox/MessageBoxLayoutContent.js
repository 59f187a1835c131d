// The box itself: logo, title and buttons; a button closes the dialog with its value.
import { folderOf } from "../paths.js";
import { MessageBoxButton, ShowCaptionButtons } from "../constants.js";
import { gettext } from "../localization.js";
import { Image } from "../components/Image/Image.js";
import { TextItem } from "../components/Text/TextItem.js";
import { ActionButtons } from "../components/ActionButtons/ActionButtons.js";
import { MessageBoxLayoutBase } from "./MessageBoxLayoutBase.js";

const kHere = folderOf(import.meta.url);
const kButtons = {
  [MessageBoxButton.OK]: { id: "ok", name: gettext("OK"), type: "primary" },
};

export class MessageBoxLayoutContent extends Element {
  constructor(props, kids) {
    super();
    this.props = props || {};
  }

  this(props) {
    this.props = props || {};
  }

  render() {
    const props = this.props;
    const buttons = (props.buttons || [MessageBoxButton.OK]).filter((value) => kButtons[value]);
    return JSX("div", { class: "message-box-holder" }, [
      JSX(MessageBoxLayoutBase, { type: props.type, showCaptionButtons: [ShowCaptionButtons.CLOSE] }, [
        JSX(Image, { class: "message-box-logo", src: kHere + "../../assets/images/logo-170.svg", width: 170, height: 40 }, []),
        JSX(TextItem, { class: "message-box-title", text: props.title }, []),
        JSX(ActionButtons, { buttons: buttons.map((value) => Object.assign({ value }, kButtons[value])) }, []),
      ]),
    ]);
  }

  ["on click at .action-button"](evt, button) {
    const entry = Object.entries(kButtons).find(([, spec]) => spec.id === button.id);
    Window.this.close(entry ? Number(entry[0]) : undefined);
    return true;
  }
}
