// The dialog page: its language, then the component its opener named, from the opener's
// interface folder.
import { ComponentCreator } from "../MessageBox/ComponentCreator.js";

async function setup() {
  Window.this.mediaVar("language", Localizer.GetCurrentLanguage());
  const root = Window.this.parent.ROOT_PATH;
  const { module, component, props } = Window.this.parameters;
  const loaded = await import(root + module);
  document.body.patch(JSX(ComponentCreator, { component: loaded[component], props }, []));
}

setup().catch((error) => console.error("<setup> failed to show the dialog. error - " + error));
