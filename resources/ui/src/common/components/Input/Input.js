// A text field that marks itself invalid, with a text under it, while its validator refuses
// what it holds: checked on every change and when the field is left.
import { folderOf } from "../../paths.js";
import { localize } from "../../localization.js";
import { BaseComponent } from "../BaseComponent.js";

const kHere = folderOf(import.meta.url);

export class Input extends BaseComponent {
  constructor(props, kids) {
    super(props, kids);
    const value = this.props.value ?? "";
    this.invalid = value !== "" && !this.accepts(value);
  }

  accepts(value) {
    return this.props.validator ? this.props.validator(value) : true;
  }

  validate(value) {
    const invalid = !this.accepts(value);
    if (invalid !== this.invalid) {
      this.componentUpdate({ invalid });
    }
  }

  render() {
    const props = this.props;
    const classes = ["input", props.width, this.invalid ? "invalid" : ""].filter(Boolean).join(" ");
    return JSX("div", { class: classes, styleset: kHere + "Input.css#Input" }, [
      JSX("input", {
        type: props.type || "text",
        id: props.id,
        value: props.value ?? "",
        placeholder: localize(props.placeholder),
        spellcheck: "false",
      }, []),
      this.invalid ? JSX("div", { class: "input-error" }, [localize(props.invalidText)]) : null,
    ]);
  }

  ["on change at input"](evt, input) {
    this.validate(input.value);
  }

  ["on blur at input"](evt, input) {
    this.validate(input.value);
  }
}
