// The examples to pick from: the programs of the examples folder, each with the library it
// includes as a tab of its own.
import demo from '../../examples/demo.zv';
import inventory from '../../examples/inventory.zv';
import shapes from '../../examples/shapes.zv';
import timers from '../../examples/timers.zv';
import mathlib from '../../examples/mathlib.ZVEX';

const library = { name: 'mathlib.ZVEX', text: mathlib };

export const examples = [
  { name: 'demo.zv', files: [{ name: 'demo.zv', text: demo }, library] },
  { name: 'inventory.zv', files: [{ name: 'inventory.zv', text: inventory }, library] },
  { name: 'shapes.zv', files: [{ name: 'shapes.zv', text: shapes }, library] },
  { name: 'timers.zv', files: [{ name: 'timers.zv', text: timers }] },
];
