// The crash window: what happened, a description of at most 300 characters, the e-mail
// address to answer to, and the buttons that send the report or close without sending.
import { folderOf } from "./src/common/paths.js";
import { AssetBaseComponent } from "./src/common/components/AssetBaseComponent.js";
import { Text } from "./src/common/components/Text/Text.js";
import { TextAreaInput } from "./src/common/components/Textarea/TextAreaInput.js";
import { InputEmail } from "./src/common/components/Input/InputEmail.js";
import { ActionButtons } from "./src/common/components/ActionButtons/ActionButtons.js";
import { StateActionButton, MessageBoxButton } from "./src/common/constants.js";
import { gettext, pgettext } from "./src/common/localization.js";
import { isEmailValid } from "./src/common/validators.js";
import { InformationMessageBox } from "./src/common/MessageBox/InformationMessageBox.js";
import { LayoutBase } from "./Layout/LayoutBase/LayoutBase.js";

const kHere = folderOf(import.meta.url);
const kDescriptionLimit = 300;

// The window's texts, as the catalogues know them. The example address of the invalid-address
// text must be the one of the catalogues' key.
const kTexts = {
  sorry: pgettext("description", "We’re sorry, the information you were working on might be lost."),
  upon: pgettext("description", "Upon closing, a crash report was generated. Please send it to us with a describing a problem in a form below to help us to fix it and improve this software."),
  details: gettext("Please give us as much details as possible"),
  email: gettext("Email"),
  invalidEmail: gettext("Email must be in form of name@example.com"),
  cancel: gettext("cancel"),
  send: gettext("send"),
  thanks: gettext("Thank You for Submitting!"),
};

function sendStateFor(email) {
  return email === "" || isEmailValid(email) ? StateActionButton.INITIAL : StateActionButton.DISABLED;
}

// A one-line field holds no line breaks: the address starts as the field will hold it, so that
// its mark, the send button and what is sent all come from the one text the user sees.
function readEmail() {
  try {
    const email = Application.Email;
    return typeof email === "string" ? email.replace(/[\r\n]/g, "") : "";
  } catch (error) {
    return "";
  }
}

export class App extends AssetBaseComponent {
  constructor(props, kids) {
    super(props, kids, Application);
    this.email = readEmail();
    this.description = undefined;
    this.stateSendButton = sendStateFor(this.email);
    this.sent = false;
    Window.this.mediaVar("language", Localizer.GetCurrentLanguage());
    // The window's own subscription lives as long as the window: its id is not kept.
    Localizer.on("language-changed", (language) => this.languageChanged(language));
  }

  languageChanged(language) {
    this.log("language changed. language=" + language);
    Window.this.mediaVar("language", language);
    this.componentUpdate();
  }

  render() {
    return JSX("body", { styleset: kHere + "app.css#App" }, [
      JSX(LayoutBase, { caption: gettext("Critical Error") }, [
        JSX(Text, { class: "description", items: [kTexts.sorry, kTexts.upon] }, []),
        JSX(TextAreaInput, { id: "description", maxLength: kDescriptionLimit, label: kTexts.details }, []),
        JSX("div", { class: "form-bottom" }, [
          JSX(InputEmail, {
            id: "email",
            value: this.email,
            placeholder: kTexts.email,
            width: "xnormal",
            invalidText: kTexts.invalidEmail,
          }, []),
          JSX(ActionButtons, {
            buttons: [
              { id: "cancel", name: kTexts.cancel, type: "secondary" },
              { id: "send", name: kTexts.send, type: "primary", state: this.stateSendButton },
            ],
          }, []),
        ]),
      ]),
    ]);
  }

  ["on change at input#email"](evt, input) {
    this.componentUpdate({ email: input.value, stateSendButton: sendStateFor(input.value) });
  }

  ["on change at textarea#description"](evt, area) {
    this.description = area.value;
  }

  ["on click at #cancel"]() {
    this.log("cancel");
    Window.this.close();
    return true;
  }

  async ["on click at #send"]() {
    // Judged by the field as it is at the click: the button's state follows a change only
    // with the next render. And a window sends one report, however fast the clicks come.
    const field = this.querySelector("input#email");
    const email = field ? field.value : this.email;
    if (this.sent || sendStateFor(email) !== StateActionButton.INITIAL) {
      return true;
    }
    this.sent = true;
    this.email = email;
    try {
      // A description never typed is still undefined, which the engine would send as the
      // text "undefined": nothing typed is an empty description.
      Application.SendReport(this.email, this.description ?? "");
    } catch (error) {
      // The outcome is in the program's log; the user is thanked either way.
    }
    await InformationMessageBox({ title: kTexts.thanks, buttons: [MessageBoxButton.OK] });
    Window.this.close();
  }
}
